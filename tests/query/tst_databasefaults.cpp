#include "boxrecorder.h"
#include "databasethread.h"
#include "samplesite.h"
#include "testdatabase.h"
#include "udevezozuvor.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QTimer>
#include <QLabel>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>

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

    void sairWhileTheStoreWaits();
    void sairWhileStartUpWaits();

private:
    QList<qint64> backendPids();
    QString status() { return m_window->findChild<QLabel *>(QStringLiteral("LStatus"))->text(); }
    QAbstractButton *button(const char *name) { return m_window->findChild<QAbstractButton *>(QLatin1String(name)); }

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<BoxRecorder> m_boxes;
    std::unique_ptr<TfoDeveZozuvor> m_window;
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
    m_boxes = std::make_unique<BoxRecorder>();
}

void DatabaseFaultsTest::cleanup()
{
    m_window.reset();
    m_boxes.reset();
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

void DatabaseFaultsTest::sairWhileTheStoreWaits()
{
    m_db->addClient(1, 1001, QStringLiteral("Comercial Exemplo Ltda"), QStringLiteral("11222333000181"));
    m_db->addSiteParameters(1, *m_site);
    m_db->addArchive({1, 1001, QDate(2026, 1, 2), QTime(8, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    const QList<qint64> fixturePids = m_db->isPostgres() ? backendPids() : QList<qint64>();

    m_window = std::make_unique<TfoDeveZozuvor>(QStringList{"DeveZozuvor", "0", "1", "1001"});
    m_window->setProgramDirectory(m_db->dir());
    m_window->show();
    QVERIFY(m_boxes->boxes.isEmpty());

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
        locker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sqlite_lock_holder"), {m_db->sqlitePath()});
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

    // The store waits in the window's own event loop, so the test acts from a
    // timer: once the status line has counted a second second, it presses "Sair".
    QElapsedTimer sinceSair;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (status() == QStringLiteral("Aguardando o banco de dados: gravação da consulta (2 s)")) {
            watch.stop();
            sinceSair.start();
            QTest::mouseClick(button("JvXPButton2"), Qt::LeftButton);
        }
    });
    watch.start();
    QTest::mouseClick(button("BotaoConsultar"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(sinceSair.isValid(), 60000);
    // Back here means the wait has ended: at once, not when the database answered.
    QVERIFY2(sinceSair.elapsed() < 5000, qPrintable(QString::number(sinceSair.elapsed())));
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_boxes->boxes.isEmpty());

    // Once the database answers again, the abandoned store rolls back.
    if (stopped)
        ::kill(pid_t(stopped), SIGCONT);
    stopped = 0;
    locker.closeWriteChannel();
    QVERIFY(locker.state() == QProcess::NotRunning || locker.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!DatabaseThread::anyStuck(), 40000);
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

    // Start-up runs before the window appears; a wait brings it up to say why.
    m_window = std::make_unique<TfoDeveZozuvor>(QStringList{"DeveZozuvor", "0", "1", "1001"});
    m_window->setProgramDirectory(m_db->dir());
    bool sawWait = false;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, this, [&] {
        if (m_window->isVisible() && status() == QStringLiteral("Aguardando o banco de dados: leitura do cliente (1 s)")) {
            watch.stop();
            sawWait = true;
            QTest::mouseClick(button("JvXPButton2"), Qt::LeftButton);
        }
    });
    watch.start();
    m_window->show();
    QVERIFY(sawWait);
    QVERIFY(!m_window->isVisible());
    QVERIFY(m_boxes->boxes.isEmpty());
}

QTEST_MAIN(DatabaseFaultsTest)
#include "tst_databasefaults.moc"
