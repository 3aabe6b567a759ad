// Holds an exclusive lock on a SQLite file, as another program of the branch
// might, until its standard input closes.
//   sqlite_lock_holder <file.sqlite>

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QString::fromLocal8Bit(argv[1]));
    QSqlQuery q(db);
    if (!db.open() || !q.exec(QStringLiteral("BEGIN EXCLUSIVE"))) {
        std::fprintf(stderr, "%s\n", qPrintable(db.lastError().text() + q.lastError().text()));
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    while (std::getchar() != EOF) { }
    q.exec(QStringLiteral("ROLLBACK"));
    return 0;
}
