#include "databasethread.h"
#include "program.h"
#include "queryarchive.h"
#include "samplesite.h"
#include "systemlocale.h"
#include "testdatabase.h"
#include "windowfixture.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QSemaphore>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <utility>

using namespace Qt::StringLiterals;

const QString Saved = u"Consulta realizada com sucesso para este cnpj!"_s;

// A database that stops answering in the middle of a query, tried with real
// processes: a stopped PostgreSQL backend, a SQLite file locked by another
// program. The window must keep answering, "Sair" must end it at once, and
// the store it had begun must leave the archive as it was.
class DatabaseFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TestDatabase::addDriverRows(); }
    void init();
    void cleanup();

    void storeThatWaits_data();
    void storeThatWaits();
    void sairWhileStartUpWaits();
    void storePastItsLimitNeverCommits();
    void cancelEndsEveryJobsFuture();
    void pressStores_data();
    void pressStores();

private:
    void addClient();
    QList<qint64> backendPids();
    bool lockSqlite();
    void release();

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
    QProcess m_locker;         // another program holding the SQLite file
    qint64 m_stopped = 0;      // the PostgreSQL backend stopped
    bool m_clientLock = false; // the client's PostgreSQL lock taken by another user
};

void DatabaseFaultsTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listen());
    m_site->setReportHeight(2000);
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
    m_app = std::make_unique<WindowFixture>(m_db->dir());
}

void DatabaseFaultsTest::cleanup()
{
    release();
    m_app.reset();
    m_db.reset();
}

// Client 1001 of branch 1, with an older report and the sample site's parameters.
void DatabaseFaultsTest::addClient()
{
    m_db->addClient(1, 1001, u"Comercial Exemplo Ltda"_s, u"11222333000181"_s);
    m_db->addSiteParameters(1, *m_site);
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
}

// Empty on SQLite.
QList<qint64> DatabaseFaultsTest::backendPids()
{
    QList<qint64> pids;
    QSqlQuery q(m_db->otherConnection());
    q.exec(u"SELECT pid FROM pg_stat_activity WHERE datname = current_database()"_s);
    while (q.next())
        pids.append(q.value(0).toLongLong());
    return pids;
}

bool DatabaseFaultsTest::lockSqlite()
{
    m_locker.start(QCoreApplication::applicationDirPath() + u"/sqlite_lock_holder"_s, {m_db->sqlitePath()});
    return m_locker.waitForReadyRead(10000) && m_locker.readLine().trimmed() == "locked";
}

// The database answers again.
void DatabaseFaultsTest::release()
{
    if (m_stopped)
        ::kill(pid_t(std::exchange(m_stopped, 0)), SIGCONT);
    if (std::exchange(m_clientLock, false))
        QSqlQuery(m_db->otherConnection()).exec(u"SELECT pg_advisory_unlock(1, 1001)"_s);
    if (m_locker.state() != QProcess::NotRunning) {
        m_locker.closeWriteChannel();
        m_locker.waitForFinished(10000);
    }
}

void DatabaseFaultsTest::storeThatWaits_data()
{
    QTest::addColumn<bool>("sair"); // or the database answers again
    QTest::newRow("Sair while it waits") << true;
    QTest::newRow("the database answers") << false;
}

void DatabaseFaultsTest::storeThatWaits()
{
    QFETCH(bool, sair);
    addClient();
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    const QList<qint64> fixturePids = backendPids();
    QVERIFY(m_app->start());
    QVERIFY(m_app->boxes.boxes.isEmpty());

    // The page walk needs no database: the store is the first thing to wait.
    if (m_db->isPostgres()) {
        QList<qint64> pids = backendPids();
        pids.removeIf([&](qint64 pid) { return fixturePids.contains(pid); });
        QCOMPARE(pids.size(), 1);
        if (::kill(pid_t(pids.first()), SIGSTOP) != 0) {
            QVERIFY2(!TestDatabase::postgresRequired(), "cannot stop the tool's PostgreSQL backend");
            QSKIP("stopping the PostgreSQL backend needs the rights of its owner");
        }
        m_stopped = pids.first();
    } else {
        QVERIFY(lockSqlite());
    }

    // Once the status line has counted a second second of the store, "Sair".
    m_app->click("BotaoConsultar");
    QTRY_COMPARE_WITH_TIMEOUT(m_app->status(), u"Aguardando o banco de dados: gravação da consulta (2 s)"_s, 60000);
    if (sair) {
        m_app->click("JvXPButton2");
        QVERIFY(!m_app->window()->isVisible());
    }
    release();
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->window()->database()->anyStuck(), 40000);
    if (sair) {
        // Once the database answers again, the abandoned store rolls back, told to no one.
        QVERIFY(m_app->boxes.boxes.isEmpty());
        QCOMPARE(m_db->allArchiveRows(), before);
        return;
    }
    // The outcome stays in the status line, whenever the wait's end is told.
    QVERIFY(m_app->boxes.waitForBox(0, 60000));
    QCOMPARE(m_app->boxes.texts(), QStringList{Saved});
    QCOMPARE(m_app->status(), u"Consulta salva com sucesso"_s);
    QCOMPARE(m_db->archiveCount(1, 1001), 2);
}

void DatabaseFaultsTest::sairWhileStartUpWaits()
{
    if (m_db->isPostgres())
        QSKIP("a new connection to a stopped server fails on its own after 10 s");
    addClient();
    QVERIFY(lockSqlite());

    // The program itself, in a process of its own, as the business system starts it.
    QProcess tool;
    tool.setEnvironment(QProcess::systemEnvironment() << u"DEVEZOZUVOR_DBENGINE_INI="_s + m_db->iniPath());
    tool.start(QCoreApplication::applicationFilePath(), {u"--tool"_s, u"0"_s, u"1"_s, u"1001"_s});
    QVERIFY(tool.waitForReadyRead(30000));
    QCOMPARE(tool.readLine().trimmed(), QByteArray("sair"));
    QElapsedTimer sinceSair;
    sinceSair.start();
    QVERIFY(tool.waitForFinished(5000));
    QCOMPARE_LT(sinceSair.elapsed(), 1000);
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
}

void DatabaseFaultsTest::storePastItsLimitNeverCommits()
{
    addClient();
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    const QString capture = m_db->dir() + u"/captura"_s;
    QFile file(capture);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(makeJpeg(2)) > 0 && file.flush());

    // Another user holds the client's archive: the file, or the client's lock.
    if (m_db->isPostgres())
        QVERIFY(m_clientLock = QSqlQuery(m_db->otherConnection()).exec(u"SELECT pg_advisory_lock(1, 1001)"_s));
    else
        QVERIFY(lockSqlite());
    DatabaseThread database;
    const auto releaseOnFailure = qScopeGuard([this] { release(); });
    database.setLimit(std::chrono::seconds(1));
    QFuture<StoredQuery> stored
        = database.post(u"gravação da consulta"_s, [capture](const std::atomic<bool> &abandoned) {
              return QueryArchive(Client{1, 1001, {}, {}}).store(capture, abandoned);
          });
    QTRY_VERIFY_WITH_TIMEOUT(stored.isFinished(), 10000);
    QVERIFY_THROWS_MESSAGE(stored.result(), "O banco de dados não respondeu em 1 s (gravação da consulta); a operação "
                                            "foi abandonada e nada foi gravado");

    // Abandoned, the store has not come back from its thread: the program would not wait for it.
    QVERIFY(database.anyStuck());
    // It gets its lock once the other user lets go, and rolls back.
    release();
    QTRY_VERIFY_WITH_TIMEOUT(!database.anyStuck(), 40000);
    QCOMPARE(m_db->allArchiveRows(), before);
}

void DatabaseFaultsTest::cancelEndsEveryJobsFuture()
{
    DatabaseThread database;
    QSemaphore running;
    QSemaphore gate;
    QFuture<void> stuck = database.post(u"gravação da consulta"_s, [&] {
        running.release();
        gate.acquire();
    });
    QFuture<int> queued = database.post(u"leitura do cliente"_s, [] { return 1; });
    QVERIFY(running.tryAcquire(1, 10000));
    database.cancel();
    // Whoever waits on them hears at once, not when the database answers.
    QVERIFY(stuck.isFinished() && queued.isFinished());
    QVERIFY_THROWS_EXCEPTION(Cancelled, queued.result());
    gate.release();
    QTRY_VERIFY(!database.anyStuck());
}

void DatabaseFaultsTest::pressStores_data()
{
    QTest::addColumn<bool>("readsFail");
    // The database came back on a new connection while the window stood idle.
    QTest::newRow("after the connection was lost") << false;
    // A store that committed is told as stored, and the new record shown, even when every read after the
    // commit fails: that is the archive tab's own box.
    QTest::newRow("reads failing after the commit") << true;
}

void DatabaseFaultsTest::pressStores()
{
    QFETCH(bool, readsFail);
    if (readsFail && !m_db->isPostgres())
        QSKIP("a commit that changes the connection's own settings is PostgreSQL's");
    addClient();
    // Run at the commit, and committed with it: the tool's connection no longer finds its tables.
    if (readsFail) {
        m_db->exec(u"CREATE FUNCTION lose_tables() RETURNS trigger LANGUAGE plpgsql AS "
                   "$$ BEGIN PERFORM set_config('search_path', 'nenhum', false); RETURN NULL; END $$"_s);
        m_db->exec(u"CREATE CONSTRAINT TRIGGER lose_tables AFTER INSERT OR UPDATE ON CliforDeveZozuvor "
                   "DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION lose_tables()"_s);
    }
    QVERIFY(m_app->start());
    m_app->boxes.boxes.clear(); // the start-up's own box, if any
    if (!readsFail)
        m_db->loseToolConnections();

    m_app->click("BotaoConsultar");
    QVERIFY(m_app->boxes.waitForBox(0, 60000));
    QCOMPARE(m_app->boxes.boxes.first().text, Saved);
    QCOMPARE(m_app->status(), u"Consulta salva com sucesso"_s);
    QCOMPARE(m_db->archiveCount(1, 1001), 2);
    QCOMPARE(m_app->child<QLineEdit>("DBEdit3")->text(), archiveDateText(QDate::currentDate()));
    if (!readsFail) {
        QCOMPARE(m_app->boxes.texts(), QStringList{Saved});
        return;
    }
    // The new record is the one shown; its picture could not be read.
    QVERIFY(m_app->boxes.waitForBox(1, 30000));
    QVERIFY2(m_app->boxes.boxes.at(1).text.startsWith(u"Erro ao abrir ultima pesquisa..."_s),
             qPrintable(m_app->boxes.boxes.at(1).text));
}

// In the program's process: once the status line says that start-up waits on
// the client's record, "Sair" is clicked.
static void pressSairWhileStartUpWaits()
{
    auto *poll = new QTimer(QCoreApplication::instance());
    QObject::connect(poll, &QTimer::timeout, poll, [poll] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *status = widget->findChild<QLabel *>(u"LStatus"_s);
            if (!status || status->text() != u"Aguardando o banco de dados: leitura do cliente (1 s)"_s)
                continue;
            poll->stop();
            std::printf("sair\n");
            std::fflush(stdout);
            QTest::mouseClick(widget->findChild<QAbstractButton *>(u"JvXPButton2"_s), Qt::LeftButton);
        }
    });
    poll->start(20);
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--tool") == 0) {
        qAddPreRoutine(pressSairWhileStartUpWaits);
        argv[1] = argv[0];
        --argc;
        return runProgram(argc, argv + 1);
    }
    QApplication app(argc, argv);
    DatabaseFaultsTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_databasefaults.moc"
