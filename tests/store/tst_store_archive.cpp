// Past the usual length on purpose: one subject, the archive, every case on both engines.
#include "databasethread.h"
#include "jpegcodec.h"
#include "queryarchive.h"
#include "testdatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

class ArchiveTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void keepsTwoPerClient_data();
    void keepsTwoPerClient();
    void otherClientsAreNeverTouched();
    void failedStoreLeavesTheArchiveAsItWas_data();
    void failedStoreLeavesTheArchiveAsItWas();
    void failedCommitLeavesTheArchiveAsItWas();
    void twoProcessesStoringAtOnceLoseNothing();
    void storeInterruptedByALostConnectionLeavesTheArchive();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    // The archive of a client that the lookup finds, as the window opens it.
    QueryArchive openClient(int filial, int cod);

    std::unique_ptr<TestDatabase> m_db;
};

void ArchiveTest::initTestCase_data()
{
    TestDatabase::addDriverRows();
}

void ArchiveTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
}

void ArchiveTest::cleanup()
{
    m_db.reset();
}

QString ArchiveTest::writeFile(const QString &name, const QByteArray &bytes)
{
    const QString path = QDir(m_db->dir()).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QueryArchive ArchiveTest::openClient(int filial, int cod)
{
    const std::optional<Client> client = findClient(filial, cod);
    if (!client)
        throw AppError(QStringLiteral("client %1/%2 not found").arg(filial).arg(cod));
    return QueryArchive(*client);
}

void ArchiveTest::keepsTwoPerClient_data()
{
    QTest::addColumn<int>("existing");
    QTest::addColumn<int>("stores"); // one after the other through one archive
    QTest::newRow("no record yet") << 0 << 1;
    QTest::newRow("one record") << 1 << 1;
    QTest::newRow("two records") << 2 << 1;
    QTest::newRow("three records") << 3 << 1;
    QTest::newRow("four records") << 4 << 1;
    QTest::newRow("five stores in a row") << 0 << 5;
}

void ArchiveTest::keepsTwoPerClient()
{
    QFETCH(int, existing);
    QFETCH(int, stores);
    m_db->addClient(1, 100);
    // Stored out of date order, so that the oldest is not the first row written.
    QList<ArchiveRow> seeded;
    for (int i = existing; i >= 1; --i) {
        const int day = i == existing ? 1 : i + 1;
        const ArchiveRow row{1, 100, QDate(2024, 1, day), QTime(9, 15, 0, 5 * i), makeJpeg(i)};
        m_db->addArchive(row);
        seeded.append(row);
    }
    std::sort(seeded.begin(), seeded.end(), [](const ArchiveRow &a, const ArchiveRow &b) { return a.date < b.date; });

    QueryArchive archive = openClient(1, 100);
    QList<ArchiveRow> expected = seeded;
    QByteArray image;
    QDateTime now;
    ArchiveEntry stored;
    for (int i = 0; i < stores; ++i) {
        image = makeJpeg(99 + i, 120, 90);
        now = QDateTime(QDate(2024, 6, 1), QTime(10, 20 + i, 30, 400));
        stored = archive.store(writeFile(QStringLiteral("captura%1.jpg").arg(i), image), notAbandoned, now).entry;
        // A store drops the oldest of two or more.
        if (expected.size() >= 2)
            expected.removeFirst();
        expected.append({1, 100, now.date(), now.time(), image});
        QCOMPARE(archive.entries().size(), expected.size());
    }
    QCOMPARE(m_db->archiveRows(1, 100), expected);

    const QList<ArchiveEntry> entries = archive.entries();
    QCOMPARE(entries.last().address, stored.address);
    QCOMPARE(entries.last().date, now.date());
    QCOMPARE(entries.last().time, now.time());
    QCOMPARE(archive.image(stored), image);
}

void ArchiveTest::otherClientsAreNeverTouched()
{
    // The same client code in two branches, and a neighbour in the same branch.
    for (const auto &[filial, cod] : {std::pair{1, 100}, std::pair{2, 100}, std::pair{1, 101}})
        m_db->addClient(filial, cod);
    m_db->addArchive({1, 100, QDate(2024, 1, 1), QTime(8, 0), "1/100 a"});
    m_db->addArchive({2, 100, QDate(2024, 1, 2), QTime(8, 0), "2/100 a"});
    m_db->addArchive({1, 100, QDate(2024, 1, 3), QTime(8, 0), "1/100 b"});
    m_db->addArchive({2, 100, QDate(2024, 1, 4), QTime(8, 0), "2/100 b"});
    m_db->addArchive({1, 101, QDate(2023, 1, 1), QTime(8, 0), "1/101 a"});
    const QList<ArchiveRow> before100 = m_db->archiveRows(1, 100);
    const QList<ArchiveRow> before101 = m_db->archiveRows(1, 101);

    const QByteArray image = makeJpeg(5);
    const QDateTime now(QDate(2024, 8, 8), QTime(8, 8, 8));
    QueryArchive archive = openClient(2, 100);
    QCOMPARE(archive.entries().size(), 2);
    archive.store(writeFile(QStringLiteral("c.jpg"), image), notAbandoned, now);

    QCOMPARE(m_db->archiveRows(1, 100), before100);
    QCOMPARE(m_db->archiveRows(1, 101), before101);
    const QList<ArchiveRow> rows = m_db->archiveRows(2, 100);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).image, QByteArray("2/100 b"));
    QCOMPARE(rows.at(1), (ArchiveRow{2, 100, now.date(), now.time(), image}));

    QueryArchive neighbour = openClient(1, 101);
    QCOMPARE(neighbour.entries().size(), 1);
    neighbour.store(writeFile(QStringLiteral("c.jpg"), image), notAbandoned, now);
    QCOMPARE(neighbour.entries().size(), 2);
    QCOMPARE(m_db->archiveRows(1, 100), before100);
    QCOMPARE(m_db->archiveRows(1, 101).at(0), before101.at(0));
    QCOMPARE(m_db->allArchiveRows().size(), 6);
}

void ArchiveTest::failedStoreLeavesTheArchiveAsItWas_data()
{
    QTest::addColumn<int>("existing");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("message"); // a leading '~' means "contains"

    for (int existing : {0, 1, 2, 3}) {
        QTest::addRow("capture file missing, %d records", existing)
            << existing << "missing"
            << "Não foi possível ler o arquivo de captura '%PATH%': No such file or directory";
        QTest::addRow("not a JPEG, %d records", existing)
            << existing << "not jpeg" << QStringLiteral("JPEG error #%1").arg(int(JERR_NO_SOI));
        QTest::addRow("engine refuses the write, %d records", existing) << existing << "refused"
                                                                        << "~gravação recusada pelo banco";
    }
    // The engine skips the rewrite of the oldest row: the failure comes from the store's own check.
    QTest::newRow("rewrite skipped by the engine")
        << 2 << "skipped"
        << "TDeveZozuvor: O registro foi alterado ou excluído por outro usuário";
    // The engine keeps other bytes (a trigger of the business system's), read back before the commit or after it.
    for (int existing : {0, 2})
        QTest::addRow("other bytes read back, %d records", existing)
            << existing << "altered"
            << "TDeveZozuvor: A consulta gravada no banco de dados não confere com a captura (2 bytes lidos de volta, "
               "%BYTES% capturados)";
    QTest::newRow("capture file empty") << 2 << "empty" << QStringLiteral("JPEG error #%1").arg(int(JERR_INPUT_EMPTY));
    QTest::newRow("capture path is a folder")
        << 2 << "folder"
        << "Não foi possível ler o arquivo de captura '%PATH%': file to open is a directory";
}

void ArchiveTest::failedStoreLeavesTheArchiveAsItWas()
{
    QFETCH(int, existing);
    QFETCH(QString, failure);
    QFETCH(QString, message);

    m_db->addClient(1, 100);
    m_db->addClient(1, 200);
    m_db->addArchive({1, 200, QDate(2024, 1, 1), QTime(7, 0), makeJpeg(200)});
    for (int i = 0; i < existing; ++i)
        m_db->addArchive({1, 100, QDate(2024, 2, i + 1), QTime(7, 0), makeJpeg(i)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();

    QString path = QDir(m_db->dir()).filePath(QStringLiteral("captura.jpg"));
    if (failure == QLatin1String("not jpeg"))
        writeFile(QStringLiteral("captura.jpg"), "This is the result page, but as text.");
    else if (failure == QLatin1String("empty"))
        writeFile(QStringLiteral("captura.jpg"), QByteArray());
    else if (failure == QLatin1String("folder"))
        QVERIFY(QDir(m_db->dir()).mkdir(QStringLiteral("captura.jpg")));
    else if (failure == QLatin1String("refused") || failure == QLatin1String("skipped")
             || failure == QLatin1String("altered"))
        writeFile(QStringLiteral("captura.jpg"), makeJpeg(42));
    if (failure == QLatin1String("refused"))
        m_db->refuseArchiveWrites();
    if (failure == QLatin1String("skipped") && m_db->isPostgres()) {
        m_db->exec(
            QStringLiteral("CREATE FUNCTION pula() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RETURN NULL; END $$"));
        m_db->exec(QStringLiteral(
            "CREATE TRIGGER pula BEFORE UPDATE ON CliforDeveZozuvor FOR EACH ROW EXECUTE FUNCTION pula()"));
    } else if (failure == QLatin1String("skipped")) {
        m_db->exec(
            QStringLiteral("CREATE TRIGGER pula BEFORE UPDATE ON CliforDeveZozuvor BEGIN SELECT RAISE(IGNORE); END"));
    }

    if (failure == QLatin1String("altered") && m_db->isPostgres()) {
        m_db->exec(QStringLiteral("CREATE FUNCTION altera() RETURNS trigger LANGUAGE plpgsql AS "
                                  "$$ BEGIN NEW.ResultCons := '\\x0102'::bytea; RETURN NEW; END $$"));
        m_db->exec(QStringLiteral("CREATE TRIGGER altera BEFORE INSERT OR UPDATE ON CliforDeveZozuvor "
                                  "FOR EACH ROW EXECUTE FUNCTION altera()"));
    } else if (failure == QLatin1String("altered")) {
        for (const QString &event : {QStringLiteral("INSERT"), QStringLiteral("UPDATE")})
            m_db->exec(QStringLiteral("CREATE TRIGGER altera_%1 AFTER %1 ON CliforDeveZozuvor BEGIN UPDATE "
                                      "CliforDeveZozuvor SET ResultCons = X'0102' WHERE rowid = NEW.rowid; END")
                           .arg(event));
    }

    QueryArchive archive = openClient(1, 100);
    const QList<ArchiveEntry> entriesBefore = archive.entries();

    QString caught;
    try {
        archive.store(path, notAbandoned, QDateTime(QDate(2024, 9, 9), QTime(9, 9, 9)));
    } catch (const AppError &e) {
        caught = e.message();
    }
    if (message.startsWith(QLatin1Char('~'))) {
        // What failed in Portuguese, then the engine's own words, without Qt's.
        QVERIFY2(caught.startsWith(QStringLiteral("TDeveZozuvor: não foi possível gravar a consulta: ")),
                 qPrintable(caught));
        QVERIFY2(!caught.contains(QLatin1String("Unable to")), qPrintable(caught));
        QVERIFY2(caught.contains(message.mid(1)), qPrintable(caught));
    } else {
        QCOMPARE(caught, message.replace(QLatin1String("%PATH%"), QDir::toNativeSeparators(path))
                             .replace(QLatin1String("%BYTES%"), QString::number(makeJpeg(42).size())));
    }
    QCOMPARE(m_db->allArchiveRows(), before);
    const QList<ArchiveEntry> entriesAfter = archive.entries();
    QCOMPARE(entriesAfter.size(), entriesBefore.size());
    for (qsizetype i = 0; i < entriesAfter.size(); ++i)
        QCOMPARE(entriesAfter.at(i).address, entriesBefore.at(i).address);

    // Nothing is left pending or locked: the next store goes through.
    if (failure == QLatin1String("refused"))
        m_db->allowArchiveWrites();
    if (failure == QLatin1String("skipped"))
        m_db->exec(m_db->isPostgres() ? QStringLiteral("DROP TRIGGER pula ON CliforDeveZozuvor")
                                      : QStringLiteral("DROP TRIGGER pula"));
    if (failure == QLatin1String("folder"))
        QVERIFY(QDir(m_db->dir()).rmdir(QStringLiteral("captura.jpg")));
    if (failure == QLatin1String("altered") && m_db->isPostgres())
        m_db->exec(QStringLiteral("DROP TRIGGER altera ON CliforDeveZozuvor"));
    else if (failure == QLatin1String("altered"))
        for (const QString &event : {QStringLiteral("INSERT"), QStringLiteral("UPDATE")})
            m_db->exec(QStringLiteral("DROP TRIGGER altera_%1").arg(event));
    const QByteArray image = makeJpeg(43);
    archive.store(writeFile(QStringLiteral("captura.jpg"), image), notAbandoned);
    QCOMPARE(archive.entries().size(), qMax(existing, qMin(existing + 1, 2)));
    QCOMPARE(m_db->archiveRows(1, 100).last().image, image);
}

void ArchiveTest::failedCommitLeavesTheArchiveAsItWas()
{
    if (!m_db->isPostgres())
        QSKIP("only PostgreSQL can refuse a transaction at its commit (a deferred constraint trigger)");
    m_db->addClient(1, 100);
    for (int i = 0; i < 2; ++i)
        m_db->addArchive({1, 100, QDate(2024, 2, i + 1), QTime(7, 0), makeJpeg(i)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    m_db->exec(QStringLiteral("CREATE FUNCTION recusa_no_commit() RETURNS trigger LANGUAGE plpgsql AS "
                              "$$ BEGIN RAISE EXCEPTION 'commit recusado pelo banco'; END $$"));
    m_db->exec(QStringLiteral("CREATE CONSTRAINT TRIGGER recusa_commit AFTER INSERT OR UPDATE ON CliforDeveZozuvor "
                              "DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION recusa_no_commit()"));

    QueryArchive archive = openClient(1, 100);
    QString caught;
    try {
        archive.store(writeFile(QStringLiteral("captura.jpg"), makeJpeg(42)), notAbandoned);
    } catch (const AppError &e) {
        caught = e.message();
    }
    QVERIFY2(caught.startsWith(QStringLiteral("TDeveZozuvor: não foi possível gravar a consulta: ")),
             qPrintable(caught));
    QVERIFY2(caught.contains(QLatin1String("commit recusado pelo banco")), qPrintable(caught));
    QCOMPARE(m_db->allArchiveRows(), before);

    // No transaction was left behind: the next store goes through.
    m_db->exec(QStringLiteral("DROP TRIGGER recusa_commit ON CliforDeveZozuvor"));
    const QByteArray image = makeJpeg(43);
    archive.store(writeFile(QStringLiteral("captura.jpg"), image), notAbandoned);
    QCOMPARE(m_db->archiveRows(1, 100).last().image, image);
}

void ArchiveTest::twoProcessesStoringAtOnceLoseNothing()
{
    const QString writer = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("store_writer"));
    QVERIFY2(QFile::exists(writer), qPrintable(writer));
    m_db->addClient(3, 300);
    m_db->addClient(3, 301);
    m_db->addArchive({3, 301, QDate(2024, 1, 1), QTime(7, 0), "neighbour"});
    const QByteArray jpegA = makeJpeg(1, 320, 240);
    const QByteArray jpegB = makeJpeg(2, 200, 300);
    const QString fileA = writeFile(QStringLiteral("a.jpg"), jpegA);
    const QString fileB = writeFile(QStringLiteral("b.jpg"), jpegB);
    // This process holds the database open too, idle, as the window would.
    const QueryArchive archive = openClient(3, 300);

    const int stores = 15;
    QProcess a, b;
    for (auto [process, file] : {std::pair{&a, fileA}, std::pair{&b, fileB}}) {
        process->setProgram(writer);
        process->setArguments(
            {m_db->iniPath(), QStringLiteral("3"), QStringLiteral("300"), file, QString::number(stores)});
    }
    a.start();
    b.start();
    QVERIFY(a.waitForStarted(10000));
    QVERIFY(b.waitForStarted(10000));
    QVERIFY(a.waitForFinished(60000));
    QVERIFY(b.waitForFinished(60000));
    for (QProcess *p : {&a, &b}) {
        const QByteArray errors = p->readAllStandardError();
        QVERIFY2(errors.isEmpty(), errors.constData());
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }

    const QList<ArchiveRow> rows = m_db->archiveRows(3, 300);
    QCOMPARE(rows.size(), 2);
    for (const ArchiveRow &row : rows) {
        QVERIFY(row.image == jpegA || row.image == jpegB);
        QCOMPARE(Jpeg::decode(row.image).isNull(), false);
        QVERIFY(row.date.isValid() && row.time.isValid());
    }
    QCOMPARE(m_db->archiveRows(3, 301).size(), 1);
    QCOMPARE(archive.entries().size(), 2);
}

void ArchiveTest::storeInterruptedByALostConnectionLeavesTheArchive()
{
    if (!m_db->isPostgres())
        QSKIP("a SQLite store has no server to lose while it writes");
    m_db->addClient(1, 100);
    m_db->addArchive({1, 100, QDate(2024, 2, 1), QTime(7, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    // The store, its transaction begun, waits for the client's lock held here; its backend is ended meanwhile.
    QSqlQuery other(m_db->otherConnection());
    QVERIFY(other.exec(QStringLiteral("SELECT pg_advisory_lock(1, 100)")));
    DatabaseThread database;
    const QString capture = writeFile(QStringLiteral("c.jpg"), makeJpeg(2));
    QFuture<StoredQuery> store = database.post(QString(), [capture](const std::atomic<bool> &abandoned) {
        return QueryArchive(Client{1, 100, {}, {}}).store(capture, abandoned);
    });
    const QString waiting = QStringLiteral("SELECT pid FROM pg_locks WHERE locktype = 'advisory' AND NOT granted");
    QTRY_VERIFY_WITH_TIMEOUT(other.exec(waiting) && other.next(), 10000);
    QVERIFY(other.exec(QStringLiteral("SELECT pg_terminate_backend(%1, 10000)").arg(other.value(0).toInt())));
    QTRY_VERIFY_WITH_TIMEOUT(store.isFinished(), 10000);
    const QString message = store.then([](const StoredQuery &) { return QString(); })
                                .onFailed([](const AppError &e) { return e.message(); })
                                .result();
    QVERIFY2(
        message.startsWith(QStringLiteral("TDeveZozuvor: não foi possível gravar a consulta: a conexão com o banco "
                                          "de dados 'tervik' foi perdida: FATAL:  terminating connection")),
        qPrintable(message));
    QCOMPARE(m_db->allArchiveRows(), before);
}

QTEST_GUILESS_MAIN(ArchiveTest)
#include "tst_store_archive.moc"
