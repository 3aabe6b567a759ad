#include "databasethread.h"
#include "queryarchive.h"
#include "program.h"
#include "samplesite.h"
#include "systemlocale.h"
#include "testdatabase.h"
#include "udevezozuvor.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QSemaphore>
#include <QSqlQuery>
#include <QTest>
#include <qpa/qwindowsysteminterface.h>

#include <cstdio>

#include <csignal>
#include <sys/types.h>

// A database that stops answering in the middle of a query, tried with real
// processes: a stopped PostgreSQL backend, a SQLite file locked by another
// program. The window must keep answering, "Sair" must end it at once, and
// the store it had begun must leave the archive as it was.
class DatabaseFaultsTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void storeThatWaits_data();
    void storeThatWaits();
    void sairWhileStartUpWaits();
    void storePastItsLimitNeverCommits();
    void cancelEndsEveryJobsFuture();
    void pressAfterTheConnectionWasLostStores();
    void readsFailingAfterTheCommit();

private:
    QList<qint64> backendPids();
    QString status() { return m_app->status(); }

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
};

void DatabaseFaultsTest::initTestCase_data()
{
    TestDatabase::addDriverRows();
}

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
    m_app.reset();
    m_db.reset();
    m_site.reset();
}

QList<qint64> DatabaseFaultsTest::backendPids()
{
    QList<qint64> pids;
    QSqlQuery q(m_db->otherConnection());
    q.exec(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE datname = current_database()"));
    while (q.next())
        pids.append(q.value(0).toLongLong());
    return pids;
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
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), QStringLiteral("11222333000181"));
    m_db->addSiteParameters(1, *m_site);
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    const QList<qint64> fixturePids = m_db->isPostgres() ? backendPids() : QList<qint64>();

    QVERIFY(m_app->start());
    QVERIFY(m_app->boxes.boxes.isEmpty());

    // The page walk needs no database: the store is the first thing to wait.
    QProcess locker;
    qint64 stopped = 0;
    if (m_db->isPostgres()) {
        QList<qint64> pids = backendPids();
        pids.removeIf([&](qint64 pid) { return fixturePids.contains(pid); });
        QCOMPARE(pids.size(), 1);
        if (::kill(pid_t(pids.first()), SIGSTOP) != 0) {
            if (TestDatabase::postgresRequired())
                QFAIL("cannot stop the tool's PostgreSQL backend");
            QSKIP("stopping the PostgreSQL backend needs the rights of its owner");
        }
        stopped = pids.first();
    } else {
        locker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sqlite_lock_holder"),
                     {m_db->sqlitePath()});
        QVERIFY(locker.waitForReadyRead(10000));
        QCOMPARE(locker.readLine().trimmed(), QByteArray("locked"));
    }
    const auto release = qScopeGuard([&] {
        if (stopped)
            ::kill(pid_t(stopped), SIGCONT);
        if (locker.state() != QProcess::NotRunning) {
            locker.closeWriteChannel();
            locker.waitForFinished(10000);
        }
    });

    // Once the status line has counted a second second of the store, "Sair".
    m_app->click("BotaoConsultar");
    QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Aguardando o banco de dados: gravação da consulta (2 s)"),
                              60000);
    if (!sair) {
        // The outcome stays in the status line, whenever the wait's end is told.
        if (stopped)
            ::kill(pid_t(stopped), SIGCONT);
        stopped = 0;
        locker.closeWriteChannel();
        QVERIFY(m_app->boxes.waitForBox(0, 60000));
        QCOMPARE(m_app->boxes.texts(), QStringList{QStringLiteral("Consulta realizada com sucesso para este cnpj!")});
        QTRY_VERIFY(!m_app->window()->database()->anyStuck());
        QCOMPARE(status(), QStringLiteral("Consulta salva com sucesso"));
        QCOMPARE(m_db->archiveCount(1, 1001), 2);
        return;
    }
    m_app->click("JvXPButton2");
    QVERIFY(!m_app->window()->isVisible());
    QVERIFY(m_app->boxes.boxes.isEmpty());

    // Once the database answers again, the abandoned store rolls back.
    if (stopped)
        ::kill(pid_t(stopped), SIGCONT);
    stopped = 0;
    locker.closeWriteChannel();
    QVERIFY(locker.state() == QProcess::NotRunning || locker.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!m_app->window()->database()->anyStuck(), 40000);
    QCOMPARE(m_db->allArchiveRows(), before);
}

void DatabaseFaultsTest::sairWhileStartUpWaits()
{
    if (m_db->isPostgres())
        QSKIP("a new connection to a stopped server fails on its own after 10 s");
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), QStringLiteral("11222333000181"));
    QProcess locker;
    locker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sqlite_lock_holder"), {m_db->sqlitePath()});
    QVERIFY(locker.waitForReadyRead(10000));
    const auto release = qScopeGuard([&] {
        locker.closeWriteChannel();
        locker.waitForFinished(10000);
    });

    // The program itself, in a process of its own, as the business system starts it.
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DEVEZOZUVOR_DBENGINE_INI"), m_db->iniPath());
    tool.setProcessEnvironment(environment);
    tool.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--tool"), QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("1001")});
    QVERIFY(tool.waitForStarted(10000));
    QVERIFY(tool.waitForReadyRead(30000));
    QCOMPARE(tool.readLine().trimmed(), QByteArray("sair"));
    QElapsedTimer sinceSair;
    sinceSair.start();
    QVERIFY(tool.waitForFinished(5000));
    QVERIFY2(sinceSair.elapsed() < 1000, qPrintable(QString::number(sinceSair.elapsed())));
    QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
    QCOMPARE(tool.exitCode(), 0);
}

void DatabaseFaultsTest::storePastItsLimitNeverCommits()
{
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), QStringLiteral("11222333000181"));
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    const QString capture = m_db->dir() + QStringLiteral("/captura");
    QFile file(capture);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(makeJpeg(2));
    file.close();

    // Another user holds the client's archive: the file, or the client's lock.
    QProcess locker;
    QSqlDatabase other;
    if (m_db->isPostgres()) {
        other = m_db->otherConnection();
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("SELECT pg_advisory_lock(1, 1001)")));
    } else {
        locker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sqlite_lock_holder"),
                     {m_db->sqlitePath()});
        QVERIFY(locker.waitForReadyRead(10000));
    }
    const auto release = [&] {
        if (other.isOpen())
            QSqlQuery(other).exec(QStringLiteral("SELECT pg_advisory_unlock(1, 1001)"));
        if (locker.state() != QProcess::NotRunning) {
            locker.closeWriteChannel();
            locker.waitForFinished(10000);
        }
    };
    DatabaseThread database;
    const auto releaseOnFailure = qScopeGuard(release);
    database.setLimit(std::chrono::seconds(1));
    QFuture<StoredQuery> stored
        = database.post(QStringLiteral("gravação da consulta"), [capture](const std::atomic<bool> &abandoned) {
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

// The database came back on a new connection while the window stood idle.
void DatabaseFaultsTest::pressAfterTheConnectionWasLostStores()
{
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), QStringLiteral("11222333000181"));
    m_db->addSiteParameters(1, *m_site);
    QVERIFY(m_app->start());
    m_app->boxes.boxes.clear(); // the start-up's "no query yet" box
    m_db->loseToolConnections();

    m_app->click("BotaoConsultar");
    QVERIFY(m_app->boxes.waitForBox(0, 60000));
    QCOMPARE(m_app->boxes.texts(), QStringList{QStringLiteral("Consulta realizada com sucesso para este cnpj!")});
    QCOMPARE(m_db->archiveRows(1, 1001).size(), 1);
}

void DatabaseFaultsTest::cancelEndsEveryJobsFuture()
{
    DatabaseThread database;
    QSemaphore running;
    QSemaphore gate;
    QFuture<void> stuck = database.post(QStringLiteral("gravação da consulta"), [&] {
        running.release();
        gate.acquire();
    });
    QFuture<int> queued = database.post(QStringLiteral("leitura do cliente"), [] { return 1; });
    QVERIFY(running.tryAcquire(1, 10000));
    database.cancel();
    // Whoever waits on them hears at once, not when the database answers.
    QVERIFY(stuck.isFinished() && queued.isFinished());
    QVERIFY_THROWS_EXCEPTION(Cancelled, queued.result());
    gate.release();
    QTRY_VERIFY(!database.anyStuck());
}

namespace {

// In the program's process: once the status line says that start-up waits on
// the client's record, "Sair" is clicked through the window system.
void pressSairWhileStartUpWaits()
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            auto *poll = new QTimer(QCoreApplication::instance());
            QObject::connect(poll, &QTimer::timeout, poll, [poll] {
                for (QWidget *widget : QApplication::topLevelWidgets()) {
                    auto *window = qobject_cast<TfoDeveZozuvor *>(widget);
                    auto *status = window ? window->findChild<QLabel *>(QStringLiteral("LStatus")) : nullptr;
                    if (!status
                        || status->text() != QStringLiteral("Aguardando o banco de dados: leitura do cliente (1 s)"))
                        continue;
                    poll->stop();
                    std::printf("sair\n");
                    std::fflush(stdout);
                    auto *sair = window->findChild<QAbstractButton *>(QStringLiteral("JvXPButton2"));
                    const QPointF local = sair->mapTo(window, sair->rect().center());
                    using Async = QWindowSystemInterface::AsynchronousDelivery;
                    QWindowSystemInterface::handleMouseEvent<Async>(window->windowHandle(), local,
                                                                    window->mapToGlobal(local), Qt::LeftButton,
                                                                    Qt::LeftButton, QEvent::MouseButtonPress);
                    QWindowSystemInterface::handleMouseEvent<Async>(window->windowHandle(), local,
                                                                    window->mapToGlobal(local), Qt::NoButton,
                                                                    Qt::LeftButton, QEvent::MouseButtonRelease);
                }
            });
            poll->start(20);
        },
        Qt::QueuedConnection);
}

} // namespace

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

// A store that committed is told as stored, and the new record shown, even
// when every read after the commit fails: that is the archive tab's own box.
void DatabaseFaultsTest::readsFailingAfterTheCommit()
{
    if (!m_db->isPostgres())
        QSKIP("a commit that changes the connection's own settings is PostgreSQL's");
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), QStringLiteral("11222333000181"));
    m_db->addSiteParameters(1, *m_site);
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
    // Run at the commit, and committed with it: the tool's connection no longer finds its tables.
    m_db->exec(QStringLiteral("CREATE FUNCTION lose_tables() RETURNS trigger LANGUAGE plpgsql AS "
                              "$$ BEGIN PERFORM set_config('search_path', 'nenhum', false); RETURN NULL; END $$"));
    m_db->exec(QStringLiteral("CREATE CONSTRAINT TRIGGER lose_tables AFTER INSERT OR UPDATE ON CliforDeveZozuvor "
                              "DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION lose_tables()"));
    QVERIFY(m_app->start());
    m_app->boxes.boxes.clear();

    m_app->click("BotaoConsultar");
    QVERIFY(m_app->boxes.waitForBox(0, 60000));
    QCOMPARE(m_app->boxes.boxes.first().text, QStringLiteral("Consulta realizada com sucesso para este cnpj!"));
    QCOMPARE(status(), QStringLiteral("Consulta salva com sucesso"));
    QCOMPARE(m_db->archiveCount(1, 1001), 2);
    // The new record is the one shown; its picture could not be read.
    QCOMPARE(m_app->child<QLineEdit>("DBEdit3")->text(), archiveDateText(QDate::currentDate()));
    QVERIFY(m_app->boxes.waitForBox(1, 30000));
    QVERIFY2(m_app->boxes.boxes.at(1).text.startsWith(QStringLiteral("Erro ao abrir ultima pesquisa...")),
             qPrintable(m_app->boxes.boxes.at(1).text));
}
