#include "databasethread.h"
#include "jpegcodec.h"
#include "queryarchive.h"
#include "testdatabase.h"

#include <QDir>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

class ArchiveTest : public DriverTest
{
    Q_OBJECT

private slots:
    void keepsTwoPerClient_data();
    void keepsTwoPerClient();
    void failedStoreLeavesTheArchiveAsItWas_data();
    void failedStoreLeavesTheArchiveAsItWas();
    void twoProcessesStoringAtOnceLoseNothing();
    void storeInterruptedByALostConnectionLeavesTheArchive();
};

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

// Client 1/100's archive, beside older records of the same code in another branch and of a neighbour.
void ArchiveTest::keepsTwoPerClient()
{
    QFETCH(int, existing);
    QFETCH(int, stores);
    const QList<ArchiveRow> others = {{1, 101, QDate(2023, 1, 1), QTime(8, 0), "1/101 a"},
                                      {2, 100, QDate(2023, 1, 2), QTime(8, 0), "2/100 a"},
                                      {2, 100, QDate(2023, 1, 3), QTime(8, 0), "2/100 b"}};
    for (const ArchiveRow &row : others)
        m_db->addArchive(row);
    for (const auto &[filial, cod] : {std::pair{1, 100}, std::pair{2, 100}, std::pair{1, 101}})
        m_db->addClient(filial, cod);
    // Stored out of date order, so that the oldest is not the first row written.
    QList<ArchiveRow> expected;
    for (int i = existing; i >= 1; --i) {
        expected.append({1, 100, QDate(2024, 1, i == existing ? 1 : i + 1), QTime(9, 15, 0, 5 * i), makeJpeg(i)});
        m_db->addArchive(expected.last());
    }
    std::sort(expected.begin(), expected.end(),
              [](const ArchiveRow &a, const ArchiveRow &b) { return a.date < b.date; });

    QueryArchive archive(findClient(1, 100).value());
    QByteArray image;
    QDateTime now;
    ArchiveEntry stored;
    for (int i = 0; i < stores; ++i) {
        image = makeJpeg(99 + i, 120, 90);
        now = QDateTime(QDate(2024, 6, 1), QTime(10, 20 + i, 30, 400));
        stored = archive.store(m_db->writeFile(u"captura%1.jpg"_s.arg(i), image), notAbandoned, now).entry;
        // A store drops the oldest of two or more.
        if (expected.size() >= 2)
            expected.removeFirst();
        expected.append({1, 100, now.date(), now.time(), image});
        QCOMPARE(archive.entries().size(), expected.size());
    }
    QCOMPARE(m_db->allArchiveRows(), expected + others);
    const ArchiveEntry last = archive.entries().last();
    QCOMPARE(last.address, stored.address);
    QCOMPARE(QDateTime(last.date, last.time), now);
    QCOMPARE(archive.image(stored), image);
}

void ArchiveTest::failedStoreLeavesTheArchiveAsItWas_data()
{
    QTest::addColumn<int>("existing");
    QTest::addColumn<QByteArray>("capture"); // "<missing>": none; "<folder>": a folder of that name
    QTest::addColumn<QStringList>("sqlite"); // what makes the engine fail; "-": SQLite cannot
    QTest::addColumn<QStringList>("postgresql");
    QTest::addColumn<QString>("message"); // a leading '~' means "contains"
    const QByteArray jpeg = makeJpeg(42);
    const QString fn = u"CREATE FUNCTION %1() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN %2 END $$"_s;
    const QString pgTrigger = u"CREATE TRIGGER %1 BEFORE %2 ON CliforDeveZozuvor FOR EACH ROW EXECUTE FUNCTION %1()"_s;
    const QString liteTrigger = u"CREATE TRIGGER %1_%2 %3 %2 ON CliforDeveZozuvor BEGIN %4; END"_s;
    const auto both = [&liteTrigger](const QString &name, const QString &when, const QString &body) {
        return QStringList{liteTrigger.arg(name, u"INSERT"_s, when, body),
                           liteTrigger.arg(name, u"UPDATE"_s, when, body)};
    };
    const QString cannot = u"Não foi possível ler o arquivo de captura '%PATH%': "_s;
    for (int existing : {0, 1, 2, 3}) {
        QTest::addRow("capture file missing, %d records", existing)
            << existing << QByteArray("<missing>") << QStringList() << QStringList()
            << cannot + u"No such file or directory"_s;
        QTest::addRow("not a JPEG, %d records", existing)
            << existing << QByteArray("This is the result page, but as text.") << QStringList() << QStringList()
            << u"JPEG error #%1"_s.arg(int(JERR_NO_SOI));
        QTest::addRow("engine refuses the write, %d records", existing)
            << existing << jpeg
            << both(u"recusa"_s, u"BEFORE"_s, u"SELECT RAISE(ABORT, 'gravação recusada pelo banco')"_s)
            << QStringList{fn.arg(u"recusa"_s, u"RAISE EXCEPTION 'gravação recusada pelo banco';"_s),
                           pgTrigger.arg(u"recusa"_s, u"INSERT OR UPDATE"_s)}
            << "~gravação recusada pelo banco";
    }
    // The engine skips the rewrite of the oldest row: the failure comes from the store's own check.
    QTest::newRow("rewrite skipped by the engine")
        << 2 << jpeg << QStringList{liteTrigger.arg(u"pula"_s, u"UPDATE"_s, u"BEFORE"_s, u"SELECT RAISE(IGNORE)"_s)}
        << QStringList{fn.arg(u"pula"_s, u"RETURN NULL;"_s), pgTrigger.arg(u"pula"_s, u"UPDATE"_s)}
        << "TDeveZozuvor: O registro foi alterado ou excluído por outro usuário";
    // The engine keeps other bytes (a trigger of the business system's), read back before the commit or after it.
    for (int existing : {0, 2})
        QTest::addRow("other bytes read back, %d records", existing)
            << existing << jpeg
            << both(u"altera"_s, u"AFTER"_s,
                    u"UPDATE CliforDeveZozuvor SET ResultCons = X'0102' WHERE rowid = NEW.rowid"_s)
            << QStringList{fn.arg(u"altera"_s, u"NEW.ResultCons := '\\x0102'::bytea; RETURN NEW;"_s),
                           pgTrigger.arg(u"altera"_s, u"INSERT OR UPDATE"_s)}
            << u"TDeveZozuvor: A consulta gravada no banco de dados não confere com a captura (2 bytes lidos de volta, "
               "%1 capturados)"_s.arg(jpeg.size());
    QTest::newRow("capture file empty") << 2 << QByteArray("") << QStringList() << QStringList()
                                        << u"JPEG error #%1"_s.arg(int(JERR_INPUT_EMPTY));
    QTest::newRow("capture path is a folder")
        << 2 << QByteArray("<folder>") << QStringList() << QStringList() << cannot + u"file to open is a directory"_s;
    // Only PostgreSQL can refuse a transaction at its commit (a deferred constraint trigger).
    QTest::newRow("commit refused")
        << 2 << jpeg << QStringList{u"-"_s}
        << QStringList{fn.arg(u"recusa_no_commit"_s, u"RAISE EXCEPTION 'commit recusado pelo banco';"_s),
                       u"CREATE CONSTRAINT TRIGGER recusa_commit AFTER INSERT OR UPDATE ON CliforDeveZozuvor "
                       "DEFERRABLE INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION recusa_no_commit()"_s}
        << "~commit recusado pelo banco";
}

void ArchiveTest::failedStoreLeavesTheArchiveAsItWas()
{
    QFETCH(int, existing);
    QFETCH(QByteArray, capture);
    QFETCH(QStringList, sqlite);
    QFETCH(QStringList, postgresql);
    QFETCH(QString, message);
    if (sqlite == QStringList{u"-"_s} && !m_db->isPostgres())
        QSKIP("SQLite cannot fail this way");
    m_db->addClient(1, 100);
    m_db->addClient(1, 200);
    m_db->addArchive({1, 200, QDate(2024, 1, 1), QTime(7, 0), makeJpeg(200)});
    for (int i = 0; i < existing; ++i)
        m_db->addArchive({1, 100, QDate(2024, 2, i + 1), QTime(7, 0), makeJpeg(i)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    const QString path = QDir(m_db->dir()).filePath(u"captura.jpg"_s);
    if (capture == "<folder>")
        QVERIFY(QDir(m_db->dir()).mkdir(u"captura.jpg"_s));
    else if (capture != "<missing>")
        m_db->writeFile(u"captura.jpg"_s, capture);
    for (const QString &sql : m_db->isPostgres() ? postgresql : sqlite)
        m_db->exec(sql);

    QueryArchive archive(findClient(1, 100).value());
    const QList<ArchiveEntry> entriesBefore = archive.entries();
    const QString caught = appErrorOf([&] { archive.store(path, notAbandoned); });
    if (message.startsWith(u'~')) {
        // What failed in Portuguese, then the engine's own words, without Qt's.
        QVERIFY2(caught.startsWith(u"TDeveZozuvor: não foi possível gravar a consulta: "_s), qPrintable(caught));
        QVERIFY2(!caught.contains(u"Unable to"_s), qPrintable(caught));
        QVERIFY2(caught.contains(message.mid(1)), qPrintable(caught));
    } else {
        QCOMPARE(caught, message.replace(u"%PATH%"_s, QDir::toNativeSeparators(path)));
    }
    QCOMPARE(m_db->allArchiveRows(), before);
    const QList<ArchiveEntry> entriesAfter = archive.entries();
    QCOMPARE(entriesAfter.size(), entriesBefore.size());
    for (qsizetype i = 0; i < entriesAfter.size(); ++i)
        QCOMPARE(entriesAfter.at(i).address, entriesBefore.at(i).address);

    // Nothing is left pending or locked: the next store goes through.
    QSqlQuery q(m_db->otherConnection());
    QVERIFY(q.exec(m_db->isPostgres()
                       ? u"SELECT tgname || ' ON CliforDeveZozuvor' FROM pg_trigger WHERE NOT tgisinternal"_s
                       : u"SELECT name FROM sqlite_master WHERE type = 'trigger'"_s));
    QStringList triggers;
    while (q.next())
        triggers.append(q.value(0).toString());
    q.finish();
    for (const QString &trigger : std::as_const(triggers))
        m_db->exec(u"DROP TRIGGER "_s + trigger);
    if (capture == "<folder>")
        QVERIFY(QDir(m_db->dir()).rmdir(u"captura.jpg"_s));
    const QByteArray image = makeJpeg(43);
    archive.store(m_db->writeFile(u"captura.jpg"_s, image), notAbandoned);
    QCOMPARE(archive.entries().size(), qMax(existing, qMin(existing + 1, 2)));
    QCOMPARE(m_db->archiveRows(1, 100).last().image, image);
}

void ArchiveTest::twoProcessesStoringAtOnceLoseNothing()
{
    const QString writer = QDir(QCoreApplication::applicationDirPath()).filePath(u"store_writer"_s);
    QVERIFY2(QFile::exists(writer), qPrintable(writer));
    m_db->addClient(3, 300);
    m_db->addClient(3, 301);
    m_db->addArchive({3, 301, QDate(2024, 1, 1), QTime(7, 0), "neighbour"});
    const QByteArray jpegA = makeJpeg(1, 320, 240), jpegB = makeJpeg(2, 200, 300);
    // This process holds the database open too, idle, as the window would.
    const QueryArchive archive(findClient(3, 300).value());

    QProcess a, b;
    for (auto [process, file] :
         {std::pair{&a, m_db->writeFile(u"a.jpg"_s, jpegA)}, std::pair{&b, m_db->writeFile(u"b.jpg"_s, jpegB)}})
        process->start(writer, {m_db->iniPath(), u"3"_s, u"300"_s, file, u"15"_s});
    for (QProcess *p : {&a, &b}) {
        QVERIFY(p->waitForFinished(60000));
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
    m_db->addArchive({1, 100, QDate(2024, 2, 1), QTime(7, 0), makeJpeg(1)});
    const QList<ArchiveRow> before = m_db->allArchiveRows();
    // The store, its transaction begun, waits for the client's lock held here; its backend is ended meanwhile.
    QSqlQuery other(m_db->otherConnection());
    QVERIFY(other.exec(u"SELECT pg_advisory_lock(1, 100)"_s));
    DatabaseThread database;
    const QString capture = m_db->writeFile(u"c.jpg"_s, makeJpeg(2));
    QFuture<StoredQuery> store = database.post(QString(), [capture](const std::atomic<bool> &abandoned) {
        return QueryArchive(Client{1, 100, {}, {}}).store(capture, abandoned);
    });
    QTRY_VERIFY_WITH_TIMEOUT(
        other.exec(u"SELECT pid FROM pg_locks WHERE locktype = 'advisory' AND NOT granted"_s) && other.next(), 10000);
    QVERIFY(other.exec(u"SELECT pg_terminate_backend(%1, 10000)"_s.arg(other.value(0).toInt())));
    QTRY_VERIFY_WITH_TIMEOUT(store.isFinished(), 10000);
    const QString message = store.then([](const StoredQuery &) { return QString(); })
                                .onFailed([](const AppError &e) { return e.message(); })
                                .result();
    QVERIFY2(message.startsWith(u"TDeveZozuvor: não foi possível gravar a consulta: a conexão com o banco de dados "
                                "'tervik' foi perdida: FATAL:  terminating connection"_s),
             qPrintable(message));
    QCOMPARE(m_db->allArchiveRows(), before);
}

QTEST_GUILESS_MAIN(ArchiveTest)
#include "tst_store_archive.moc"
