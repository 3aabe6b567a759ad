// sqlite_lock_holder FILE: holds an exclusive lock on the SQLite file, as another program of the branch
// might, from its "locked" line until its standard input closes.
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QString::fromLocal8Bit(argv[argc - 1]));
    QSqlQuery q(db);
    if (argc != 2 || !db.open() || !q.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
        std::fprintf(stderr, "%s\n", qPrintable(db.lastError().text() + q.lastError().text()));
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) { }
    return 0;
}
