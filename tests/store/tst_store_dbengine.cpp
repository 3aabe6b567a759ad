#include "clientlookup.h"
#include "dbengine.h"
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
    void oneConnectionPerAliasWithItsPragmas();
    void unreachableServer();
    void searchOrder_data();
    void searchOrder();

private:
    static void writeFile(const QString &path, const QString &text);
    void writeIni(const QString &text) { writeFile(m_dir->filePath(u"dbengine.ini"_s), placed(text)); }
    // This test program has a folder of its own (see CMakeLists.txt), so a
    // dbengine.ini written beside it reaches no other program.
    static QString besideProgram(const QString &name) { return QCoreApplication::applicationDirPath() + u'/' + name; }
    // The text with {dir} for the test's folder and {program} for the program's.
    QString placed(QString text) const
    {
        return text.replace(u"{dir}"_s, m_dir->path()).replace(u"{program}"_s, QCoreApplication::applicationDirPath());
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void DbEngineTest::init()
{
    DbEngine::reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("DEVEZOZUVOR_DBENGINE_INI", QFile::encodeName(m_dir->filePath(u"dbengine.ini"_s)));
}

void DbEngineTest::cleanup()
{
    DbEngine::reset();
    qunsetenv("DEVEZOZUVOR_CONFIG_DIR");
    QFile::remove(besideProgram(u"dbengine.ini"_s));
    m_dir.reset();
}

void DbEngineTest::writeFile(const QString &path, const QString &text)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(f.errorString()));
    f.write(text.toUtf8());
}

void DbEngineTest::settings_data()
{
    QTest::addColumn<QString>("ini"); // none written when empty
    QTest::addColumn<QString>("alias");
    QTest::addColumn<QString>("expected"); // "sqlite PATH" or "postgresql HOST PORT DBNAME USER"
    const auto row = [](const char *name, const QString &ini, const QString &alias, const QString &expected) {
        QTest::newRow(name) << ini << alias << expected;
    };
    const QString section
        = u"[outro]\ndriver=sqlite\npath=/outro.sqlite\n\n[%1]\n; comment\nDriver = SQLite\nPATH = {dir}/x.sqlite\n"_s;
    row("lower", section.arg(u"tervik"), u"TERVIK"_s, u"sqlite {dir}/x.sqlite"_s);
    row("upper", section.arg(u"TERVIK"), u"tervik"_s, u"sqlite {dir}/x.sqlite"_s);
    row("mixed, padded", section.arg(u" TerVik "), u"tERVIk"_s, u"sqlite {dir}/x.sqlite"_s);
    row("relative path", u"[tervik]\ndriver=sqlite\npath=dados/tervik.db\n"_s, u"tervik"_s,
        u"sqlite {program}/dados/tervik.db"_s);
    row("no file", {}, u"tervik"_s, u"sqlite {program}/tervik.sqlite"_s);
    row("no section", u"[outro]\ndriver=postgresql\nhost=h\n"_s, u"tervik"_s, u"sqlite {program}/tervik.sqlite"_s);
    row("postgresql", u"[tervik]\ndriver=postgresql\nhost=db.local\nport=6543\ndbname=central\nuser=tool\n"_s,
        u"Tervik"_s, u"postgresql db.local 6543 central tool"_s);
}

void DbEngineTest::settings()
{
    QFETCH(QString, ini);
    QFETCH(QString, alias);
    QFETCH(QString, expected);
    if (!ini.isEmpty())
        writeIni(ini);
    for (const QString &name : {alias, alias.toLower()}) {
        const DbEngine::Settings s = DbEngine::settings(name);
        QCOMPARE(s.driver == DbEngine::Driver::SQLite
                     ? u"sqlite "_s + s.path
                     : u"postgresql %1 %2 %3 %4"_s.arg(s.host).arg(s.port).arg(s.dbname, s.user),
                 placed(expected));
    }
}

void DbEngineTest::refusals_data()
{
    QTest::addColumn<QString>("ini");  // none found when empty
    QTest::addColumn<bool>("removed"); // the SQLite file made and removed while open
    QTest::addColumn<QString>("message");
    const QString cannot = u"Não foi possível abrir o banco de dados 'tervik': "_s;
    const QString sqlite = u"[tervik]\ndriver=sqlite\npath={dir}/t.sqlite\n"_s;
    QTest::newRow("unknown driver") << u"[tervik]\ndriver=paradox\n"_s << false
                                    << u"Driver 'paradox' desconhecido para o banco de dados 'tervik' em "
                                       "'{dir}/dbengine.ini'"_s;
    QTest::newRow("missing SQLite file") << sqlite << false << cannot + u"o arquivo '{dir}/t.sqlite' não existe"_s;
    QTest::newRow("SQLite file removed while open")
        << sqlite << true << cannot + u"o arquivo '{dir}/t.sqlite' não existe"_s;
    QTest::newRow("neither file binds it")
        << QString() << false
        << cannot
               + u"o arquivo '{program}/tervik.sqlite' não existe e nenhum destes arquivos de configuração o "
                 "define: '{program}/dbengine.ini', '{dir}/etc/dbengine.ini'"_s;
}

// Each refusal told alike by the connection, its check and a lookup, and no SQLite file made.
void DbEngineTest::refusals()
{
    QFETCH(QString, ini);
    QFETCH(bool, removed);
    QFETCH(QString, message);
    if (ini.isEmpty()) {
        qunsetenv("DEVEZOZUVOR_DBENGINE_INI");
        qputenv("DEVEZOZUVOR_CONFIG_DIR", QFile::encodeName(m_dir->filePath(u"etc"_s)));
    } else {
        writeIni(ini);
    }
    if (removed) {
        TervikSeed::createSchema(u"tervik"_s); // opens it
        QVERIFY(QFile::remove(m_dir->filePath(u"t.sqlite"_s)));
    } else {
        QVERIFY_THROWS_MESSAGE(DbEngine::database(u"tervik"_s), placed(message));
    }
    QVERIFY_THROWS_MESSAGE(checkDatabase(), placed(message));
    QVERIFY_THROWS_MESSAGE(findClient(1, 1), placed(message));
    QVERIFY(!QFile::exists(m_dir->filePath(u"t.sqlite"_s)));
    QVERIFY(!QFile::exists(besideProgram(u"tervik.sqlite"_s)));
}

// Creating the schema makes the file, twice finds everything in place; the alias has one connection.
void DbEngineTest::oneConnectionPerAliasWithItsPragmas()
{
    writeIni(u"[tervik]\ndriver=sqlite\npath={dir}/novo.sqlite\n"_s);
    TervikSeed::createSchema(u"tervik"_s);
    TervikSeed::createSchema(u"tervik"_s);
    QVERIFY(QFile::exists(m_dir->filePath(u"novo.sqlite"_s)));
    QVERIFY(!findClient(1, 1));
    QVERIFY(QueryArchive(Client{1, 1, {}, {}}).entries().isEmpty());
    const QSqlDatabase a = DbEngine::database(u"tervik"_s);
    QCOMPARE(a.connectionName(), DbEngine::database(u"TERVIK"_s).connectionName());
    QVERIFY(a.isOpen());
    QSqlQuery q(a);
    QVERIFY(q.exec(u"PRAGMA busy_timeout"_s) && q.next());
    QCOMPARE(q.value(0).toInt(), 30000);
    QVERIFY(q.exec(u"PRAGMA synchronous"_s) && q.next());
    QCOMPARE(q.value(0).toInt(), 2); // FULL
}

// As the connection says it: nothing listens on port 1 of the loopback.
void DbEngineTest::unreachableServer()
{
    writeIni(u"[tervik]\ndriver=postgresql\nhost=127.0.0.1\nport=1\ndbname=tervik\nuser=tool\n"_s);
    const QString message = appErrorOf([] { checkDatabase(); });
    const QString prefix = u"Não foi possível abrir o banco de dados 'tervik': "_s;
    QVERIFY2(message.startsWith(prefix) && message.size() > prefix.size() + 10, qPrintable(message));
    QVERIFY2(message.contains(u"127.0.0.1"_s), qPrintable(message));
}

void DbEngineTest::searchOrder_data()
{
    QTest::addColumn<QString>("beside");   // dbengine.ini beside the program; empty: no file
    QTest::addColumn<QString>("system");   // dbengine.ini in the system folder
    QTest::addColumn<QString>("expected"); // the file that binds: beside, system, or none
    const QString beside = u"[tervik]\ndriver=sqlite\npath=/dados/beside.sqlite\n"_s;
    const QString system = u"[tervik]\ndriver=sqlite\npath=/dados/system.sqlite\n"_s;
    const QString other = u"[outro]\ndriver=sqlite\npath=/dados/outro.sqlite\n"_s;
    QTest::newRow("beside the program only") << beside << QString() << u"beside"_s;
    QTest::newRow("system folder only") << QString() << system << u"system"_s;
    QTest::newRow("beside the program wins") << beside << system << u"beside"_s;
    QTest::newRow("beside without the section") << other << system << u"system"_s;
    QTest::newRow("neither binds it") << other << other << u"none"_s;
}

void DbEngineTest::searchOrder()
{
    QFETCH(QString, beside);
    QFETCH(QString, system);
    QFETCH(QString, expected);
    qunsetenv("DEVEZOZUVOR_DBENGINE_INI");
    qputenv("DEVEZOZUVOR_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    const QStringList files{besideProgram(u"dbengine.ini"_s), m_dir->filePath(u"dbengine.ini"_s)};
    for (const auto &[file, text] : {std::pair{files.at(0), beside}, std::pair{files.at(1), system}})
        if (!text.isEmpty())
            writeFile(file, text);

    QCOMPARE(DbEngine::configFiles(), files);
    const DbEngine::Settings s = DbEngine::settings(u"tervik"_s);
    QCOMPARE(s.tried, files);
    QCOMPARE(s.source, expected == u"none" ? QString() : files.at(expected == u"beside" ? 0 : 1));
    QCOMPARE(s.path, expected == u"none" ? besideProgram(u"tervik.sqlite"_s) : u"/dados/%1.sqlite"_s.arg(expected));
}

QTEST_GUILESS_MAIN(DbEngineTest)
#include "tst_store_dbengine.moc"
