#include "dbengine.h"
#include "clientlookup.h"
#include "queryarchive.h"
#include "tervikseed.h"
#include "testdatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class DbEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sectionsMatchWithoutCase_data();
    void sectionsMatchWithoutCase();
    void relativePathsStartAtTheProgram();
    void noFileOrSectionMeansTervikSqliteBesideTheProgram();
    void postgresqlSettings();
    void unknownDriver();
    void missingSqliteFileIsNotCreated();
    void createSchemaMakesTheFile();
    void oneConnectionPerAliasWithItsPragmas();
    void unreachableServer();
    void sqliteFileRemovedWhileOpen();
    void searchOrder_data();
    void searchOrder();
    void neitherFileBindsTheDatabase();

private:
    void writeIni(const QString &text);
    static void writeFile(const QString &path, const QString &text);
    static QString besideProgram(const QString &name);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void DbEngineTest::init()
{
    DbEngine::reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("DEVEZOZUVOR_DBENGINE_INI", QFile::encodeName(m_dir->filePath(QStringLiteral("dbengine.ini"))));
}

void DbEngineTest::cleanup()
{
    DbEngine::reset();
    qunsetenv("DEVEZOZUVOR_CONFIG_DIR");
    QFile::remove(besideProgram(QStringLiteral("dbengine.ini")));
    m_dir.reset();
}

// This test program has a folder of its own (see CMakeLists.txt), so a
// dbengine.ini written beside it reaches no other program.
QString DbEngineTest::besideProgram(const QString &name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

void DbEngineTest::writeFile(const QString &path, const QString &text)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(f.errorString()));
    f.write(text.toUtf8());
}

void DbEngineTest::writeIni(const QString &text)
{
    QFile f(m_dir->filePath(QStringLiteral("dbengine.ini")));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
}

void DbEngineTest::sectionsMatchWithoutCase_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("alias");
    QTest::newRow("lower") << "tervik"
                           << "TERVIK";
    QTest::newRow("upper") << "TERVIK"
                           << "tervik";
    QTest::newRow("mixed, padded") << " TerVik "
                                   << "tERVIk";
}

void DbEngineTest::sectionsMatchWithoutCase()
{
    QFETCH(QString, section);
    QFETCH(QString, alias);
    writeIni(
        QStringLiteral("[outro]\ndriver=sqlite\npath=/outro.sqlite\n\n[%1]\n; comment\nDriver = SQLite\nPATH = %2\n")
            .arg(section, m_dir->filePath(QStringLiteral("x.sqlite"))));
    const DbEngine::Settings s = DbEngine::settings(alias);
    QCOMPARE(s.driver, DbEngine::Driver::SQLite);
    QCOMPARE(s.path, m_dir->filePath(QStringLiteral("x.sqlite")));
}

void DbEngineTest::relativePathsStartAtTheProgram()
{
    writeIni(QStringLiteral("[tervik]\ndriver=sqlite\npath=dados/tervik.db\n"));
    QCOMPARE(DbEngine::settings(QStringLiteral("tervik")).path,
             QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dados/tervik.db")));
}

void DbEngineTest::noFileOrSectionMeansTervikSqliteBesideTheProgram()
{
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tervik.sqlite"));
    DbEngine::Settings s = DbEngine::settings(QStringLiteral("tervik"));
    QCOMPARE(s.driver, DbEngine::Driver::SQLite);
    QCOMPARE(s.path, beside);

    writeIni(QStringLiteral("[outro]\ndriver=postgresql\nhost=h\n"));
    s = DbEngine::settings(QStringLiteral("tervik"));
    QCOMPARE(s.driver, DbEngine::Driver::SQLite);
    QCOMPARE(s.path, beside);
}

void DbEngineTest::postgresqlSettings()
{
    writeIni(QStringLiteral("[tervik]\ndriver=postgresql\nhost=db.local\nport=6543\ndbname=central\nuser=tool\n"));
    const DbEngine::Settings s = DbEngine::settings(QStringLiteral("Tervik"));
    QCOMPARE(s.driver, DbEngine::Driver::PostgreSQL);
    QCOMPARE(s.host, QStringLiteral("db.local"));
    QCOMPARE(s.port, 6543);
    QCOMPARE(s.dbname, QStringLiteral("central"));
    QCOMPARE(s.user, QStringLiteral("tool"));
    QCOMPARE(DbEngine::settings(QStringLiteral("tervik")).driver, DbEngine::Driver::PostgreSQL);
}

void DbEngineTest::unknownDriver()
{
    writeIni(QStringLiteral("[tervik]\ndriver=paradox\n"));
    QVERIFY_THROWS_MESSAGE(DbEngine::database(QStringLiteral("tervik")),
                           QStringLiteral("Driver 'paradox' desconhecido para o banco de dados 'tervik' em '%1'")
                               .arg(QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("dbengine.ini")))));
}

void DbEngineTest::missingSqliteFileIsNotCreated()
{
    const QString path = m_dir->filePath(QStringLiteral("nao-existe.sqlite"));
    writeIni(QStringLiteral("[tervik]\ndriver=sqlite\npath=%1\n").arg(path));
    QVERIFY_THROWS_MESSAGE(DbEngine::database(QStringLiteral("tervik")),
                           QStringLiteral("Não foi possível abrir o banco de dados 'tervik': o arquivo '%1' não existe")
                               .arg(QDir::toNativeSeparators(path)));
    QVERIFY(!QFile::exists(path));

    QVERIFY_THROWS_MESSAGE(findClient(1, 1),
                           QStringLiteral("Não foi possível abrir o banco de dados 'tervik': o arquivo '%1' não existe")
                               .arg(QDir::toNativeSeparators(path)));
    QVERIFY(!QFile::exists(path));
}

void DbEngineTest::createSchemaMakesTheFile()
{
    const QString path = m_dir->filePath(QStringLiteral("novo.sqlite"));
    writeIni(QStringLiteral("[tervik]\ndriver=sqlite\npath=%1\n").arg(path));
    TervikSeed::createSchema(QStringLiteral("tervik"));
    TervikSeed::createSchema(QStringLiteral("tervik")); // a second run finds everything in place
    QVERIFY(QFile::exists(path));
    QVERIFY(!findClient(1, 1));
    QVERIFY(QueryArchive(Client{1, 1, {}, {}}).entries().isEmpty());
}

void DbEngineTest::oneConnectionPerAliasWithItsPragmas()
{
    const QString path = m_dir->filePath(QStringLiteral("t.sqlite"));
    writeIni(QStringLiteral("[tervik]\ndriver=sqlite\npath=%1\n").arg(path));
    TervikSeed::createSchema(QStringLiteral("tervik"));
    const QSqlDatabase a = DbEngine::database(QStringLiteral("tervik"));
    const QSqlDatabase b = DbEngine::database(QStringLiteral("TERVIK"));
    QCOMPARE(a.connectionName(), b.connectionName());
    QVERIFY(a.isOpen());

    QSqlQuery q(a);
    QVERIFY(q.exec(QStringLiteral("PRAGMA busy_timeout")) && q.next());
    QCOMPARE(q.value(0).toInt(), 30000);
    QVERIFY(q.exec(QStringLiteral("PRAGMA synchronous")) && q.next());
    QCOMPARE(q.value(0).toInt(), 2); // FULL
}

void DbEngineTest::unreachableServer()
{
    // Nothing listens on port 1 of the loopback.
    writeIni(QStringLiteral("[tervik]\ndriver=postgresql\nhost=127.0.0.1\nport=1\ndbname=tervik\nuser=tool\n"));
    QString message;
    try {
        checkDatabase(); // as the connection says it
    } catch (const AppError &e) {
        message = e.message();
    }
    const QString prefix = QStringLiteral("Não foi possível abrir o banco de dados 'tervik': ");
    QVERIFY2(message.startsWith(prefix) && message.size() > prefix.size() + 10, qPrintable(message));
    QVERIFY2(message.contains(QLatin1String("127.0.0.1")), qPrintable(message));
}

void DbEngineTest::sqliteFileRemovedWhileOpen()
{
    const QString path = m_dir->filePath(QStringLiteral("t.sqlite"));
    writeIni(QStringLiteral("[tervik]\ndriver=sqlite\npath=%1\n").arg(path));
    TervikSeed::createSchema(QStringLiteral("tervik")); // opens it
    QVERIFY(QFile::remove(path));
    QVERIFY_THROWS_MESSAGE(checkDatabase(),
                           QStringLiteral("Não foi possível abrir o banco de dados 'tervik': o arquivo '%1' não existe")
                               .arg(path));
}

void DbEngineTest::searchOrder_data()
{
    QTest::addColumn<QString>("beside");   // dbengine.ini beside the program; empty: no file
    QTest::addColumn<QString>("system");   // dbengine.ini in the system folder
    QTest::addColumn<QString>("expected"); // the file that binds: beside, system, or none

    const QString binds = QStringLiteral("[tervik]\ndriver=sqlite\npath=/dados/%1.sqlite\n");
    const QString other = QStringLiteral("[outro]\ndriver=sqlite\npath=/dados/outro.sqlite\n");
    QTest::newRow("beside the program only") << binds.arg(QStringLiteral("beside")) << QString() << "beside";
    QTest::newRow("system folder only") << QString() << binds.arg(QStringLiteral("system")) << "system";
    QTest::newRow("beside the program wins")
        << binds.arg(QStringLiteral("beside")) << binds.arg(QStringLiteral("system")) << "beside";
    QTest::newRow("beside without the section") << other << binds.arg(QStringLiteral("system")) << "system";
    QTest::newRow("neither binds it") << other << other << "none";
}

void DbEngineTest::searchOrder()
{
    QFETCH(QString, beside);
    QFETCH(QString, system);
    QFETCH(QString, expected);

    qunsetenv("DEVEZOZUVOR_DBENGINE_INI");
    qputenv("DEVEZOZUVOR_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    const QString besideFile = besideProgram(QStringLiteral("dbengine.ini"));
    const QString systemFile = m_dir->filePath(QStringLiteral("dbengine.ini"));
    if (!beside.isEmpty())
        writeFile(besideFile, beside);
    if (!system.isEmpty())
        writeFile(systemFile, system);

    QCOMPARE(DbEngine::configFiles(), (QStringList{besideFile, systemFile}));
    const DbEngine::Settings s = DbEngine::settings(QStringLiteral("tervik"));
    QCOMPARE(s.tried, (QStringList{besideFile, systemFile}));
    if (expected == QLatin1String("none")) {
        QCOMPARE(s.source, QString());
        QCOMPARE(s.path, besideProgram(QStringLiteral("tervik.sqlite")));
    } else {
        QCOMPARE(s.source, expected == QLatin1String("beside") ? besideFile : systemFile);
        QCOMPARE(s.path, QStringLiteral("/dados/%1.sqlite").arg(expected));
    }
}

void DbEngineTest::neitherFileBindsTheDatabase()
{
    qunsetenv("DEVEZOZUVOR_DBENGINE_INI");
    qputenv("DEVEZOZUVOR_CONFIG_DIR", QFile::encodeName(m_dir->filePath(QStringLiteral("etc"))));
    QVERIFY_THROWS_MESSAGE(
        DbEngine::database(QStringLiteral("tervik")),
        QStringLiteral("Não foi possível abrir o banco de dados 'tervik': o arquivo '%1' não existe e nenhum destes "
                       "arquivos de configuração o define: '%2', '%3'")
            .arg(QDir::toNativeSeparators(besideProgram(QStringLiteral("tervik.sqlite"))),
                 QDir::toNativeSeparators(besideProgram(QStringLiteral("dbengine.ini"))),
                 QDir::toNativeSeparators(m_dir->filePath(QStringLiteral("etc/dbengine.ini")))));
}

QTEST_GUILESS_MAIN(DbEngineTest)
#include "tst_store_dbengine.moc"
