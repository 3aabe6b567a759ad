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

    void settings_data();
    void settings();
    void refusals_data();
    void refusals();
    void createSchemaMakesTheFile();
    void oneConnectionPerAliasWithItsPragmas();
    void unreachableServer();
    void searchOrder_data();
    void searchOrder();

private:
    void writeIni(const QString &text);
    static void writeFile(const QString &path, const QString &text);
    static QString besideProgram(const QString &name);
    QString placed(QString text) const;
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

// The text with {dir} for the test's folder and {program} for the program's.
QString DbEngineTest::placed(QString text) const
{
    return text.replace(QLatin1String("{dir}"), m_dir->path())
        .replace(QLatin1String("{program}"), QCoreApplication::applicationDirPath());
}

void DbEngineTest::settings_data()
{
    QTest::addColumn<QString>("ini"); // none written when empty
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("expected"); // "sqlite PATH" or "postgresql HOST PORT DBNAME USER"
    const QString section = QStringLiteral("[outro]\ndriver=sqlite\npath=/outro.sqlite\n\n[%1]\n; comment\nDriver = "
                                           "SQLite\nPATH = {dir}/x.sqlite\n");
    QTest::newRow("lower") << section.arg("tervik") << "TERVIK"
                           << "sqlite {dir}/x.sqlite";
    QTest::newRow("upper") << section.arg("TERVIK") << "tervik"
                           << "sqlite {dir}/x.sqlite";
    QTest::newRow("mixed, padded") << section.arg(" TerVik ") << "tERVIk"
                                   << "sqlite {dir}/x.sqlite";
    QTest::newRow("relative path") << "[tervik]\ndriver=sqlite\npath=dados/tervik.db\n"
                                   << "tervik"
                                   << "sqlite {program}/dados/tervik.db";
    QTest::newRow("no file") << ""
                             << "tervik"
                             << "sqlite {program}/tervik.sqlite";
    QTest::newRow("no section") << "[outro]\ndriver=postgresql\nhost=h\n"
                                << "tervik"
                                << "sqlite {program}/tervik.sqlite";
    QTest::newRow("postgresql") << "[tervik]\ndriver=postgresql\nhost=db.local\nport=6543\ndbname=central\nuser=tool\n"
                                << "Tervik"
                                << "postgresql db.local 6543 central tool";
}

void DbEngineTest::settings()
{
    QFETCH(QString, ini);
    QFETCH(QString, alias);
    QFETCH(QString, expected);
    if (!ini.isEmpty())
        writeIni(placed(ini));
    for (const QString &name : {alias, alias.toLower()}) {
        const DbEngine::Settings s = DbEngine::settings(name);
        QCOMPARE(s.driver == DbEngine::Driver::SQLite
                     ? QStringLiteral("sqlite ") + s.path
                     : QStringLiteral("postgresql %1 %2 %3 %4").arg(s.host).arg(s.port).arg(s.dbname, s.user),
                 placed(expected));
    }
}

void DbEngineTest::refusals_data()
{
    QTest::addColumn<QString>("ini");  // none found when empty
    QTest::addColumn<bool>("removed"); // the SQLite file made and removed while open
    QTest::addColumn<QString>("message");
    const QString cannot = QStringLiteral("Não foi possível abrir o banco de dados 'tervik': ");
    QTest::newRow("unknown driver") << "[tervik]\ndriver=paradox\n"
                                    << false
                                    << "Driver 'paradox' desconhecido para o banco de dados 'tervik' em "
                                       "'{dir}/dbengine.ini'";
    QTest::newRow("missing SQLite file") << "[tervik]\ndriver=sqlite\npath={dir}/t.sqlite\n"
                                         << false << cannot + "o arquivo '{dir}/t.sqlite' não existe";
    QTest::newRow("SQLite file removed while open") << "[tervik]\ndriver=sqlite\npath={dir}/t.sqlite\n"
                                                    << true << cannot + "o arquivo '{dir}/t.sqlite' não existe";
    QTest::newRow("neither file binds it")
        << "" << false
        << cannot
               + "o arquivo '{program}/tervik.sqlite' não existe e nenhum destes arquivos de configuração o "
                 "define: '{program}/dbengine.ini', '{dir}/etc/dbengine.ini'";
}

// Each refusal told alike by the connection, its check and a lookup, and no SQLite file made.
void DbEngineTest::refusals()
{
    QFETCH(QString, ini);
    QFETCH(bool, removed);
    QFETCH(QString, message);
    if (ini.isEmpty()) {
        qunsetenv("DEVEZOZUVOR_DBENGINE_INI");
        qputenv("DEVEZOZUVOR_CONFIG_DIR", QFile::encodeName(m_dir->filePath(QStringLiteral("etc"))));
    } else {
        writeIni(placed(ini));
    }
    if (removed) {
        TervikSeed::createSchema(QStringLiteral("tervik")); // opens it
        QVERIFY(QFile::remove(m_dir->filePath(QStringLiteral("t.sqlite"))));
    } else {
        QVERIFY_THROWS_MESSAGE(DbEngine::database(QStringLiteral("tervik")), placed(message));
    }
    QVERIFY_THROWS_MESSAGE(checkDatabase(), placed(message));
    QVERIFY_THROWS_MESSAGE(findClient(1, 1), placed(message));
    QVERIFY(!QFile::exists(m_dir->filePath(QStringLiteral("t.sqlite"))));
    QVERIFY(!QFile::exists(besideProgram(QStringLiteral("tervik.sqlite"))));
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

QTEST_GUILESS_MAIN(DbEngineTest)
#include "tst_store_dbengine.moc"
