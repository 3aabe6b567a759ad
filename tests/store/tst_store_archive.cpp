#include "jpegcodec.h"
#include "queryarchive.h"
#include "table.h"
#include "tervikschema.h"
#include "testdatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
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
    void repeatedStoresKeepTheTwoNewest();
    void otherClientsAreNeverTouched();
    void failedStoreLeavesTheArchiveAsItWas_data();
    void failedStoreLeavesTheArchiveAsItWas();
    void needsOpenTablesAndAClient();
    void currentImageFollowsTheCursor();
    void twoProcessesStoringAtOnceLoseNothing();

private:
    QString writeFile(const QString &name, const QByteArray &bytes);
    bool openClient(int filial, int cod);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<QObject> m_owner;
    Table *m_clifor = nullptr;
    Table *m_archive = nullptr;
    std::unique_ptr<QueryArchive> m_queries;
};

void ArchiveTest::initTestCase_data()
{
    TestDatabase::addDriverRows();
}

void ArchiveTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_owner = std::make_unique<QObject>();
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
    m_clifor = makeCliforTable(m_owner.get());
    m_archive = makeArchiveTable(m_clifor, m_owner.get());
    m_queries = std::make_unique<QueryArchive>(m_archive, m_clifor);
}

void ArchiveTest::cleanup()
{
    m_queries.reset();
    m_clifor = nullptr;
    m_archive = nullptr;
    m_owner.reset();
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

bool ArchiveTest::openClient(int filial, int cod)
{
    m_clifor->open();
    m_archive->open();
    return m_clifor->findKey({filial, cod});
}

void ArchiveTest::keepsTwoPerClient_data()
{
    QTest::addColumn<int>("existing");
    QTest::newRow("no record yet") << 0;
    QTest::newRow("one record") << 1;
    QTest::newRow("two records") << 2;
    QTest::newRow("three records") << 3;
    QTest::newRow("four records") << 4;
}

void ArchiveTest::keepsTwoPerClient()
{
    QFETCH(int, existing);
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    // Stored out of date order, so that the oldest is not the first row written.
    QList<ArchiveRow> seeded;
    for (int i = existing; i >= 1; --i) {
        const int day = i == existing ? 1 : i + 1;
        const ArchiveRow row{1, 100, QDate(2024, 1, day), QTime(9, 15, 0, 5 * i), makeJpeg(i)};
        QVERIFY(m_db->addArchive(row).isEmpty());
        seeded.append(row);
    }
    std::sort(seeded.begin(), seeded.end(), [](const ArchiveRow &a, const ArchiveRow &b) { return a.date < b.date; });

    const QByteArray image = makeJpeg(99, 120, 90);
    const QDateTime now(QDate(2024, 6, 1), QTime(10, 20, 30, 400));
    QVERIFY(openClient(1, 100));
    m_archive->last();
    m_queries->store(writeFile(QStringLiteral("captura.jpg"), image), now);

    QList<ArchiveRow> expected = seeded;
    if (existing >= 2)
        expected.removeFirst();
    expected.append({1, 100, now.date(), now.time(), image});
    QCOMPARE(m_db->archiveRows(1, 100), expected);

    QCOMPARE(m_archive->state(), Table::State::Browse);
    QVERIFY(!m_archive->inTransaction());
    QCOMPARE(m_archive->recordCount(), int(expected.size()));
    QCOMPARE(m_queries->currentImage(), image);
    QCOMPARE(m_archive->value(QStringLiteral("DataCons")), QVariant(now.date()));
    QCOMPARE(m_archive->value(QStringLiteral("HoraCons")), QVariant(now.time()));
    QCOMPARE(m_archive->value(QStringLiteral("Filial")), QVariant(1));
    QCOMPARE(m_archive->value(QStringLiteral("Cod_Clifor")), QVariant(100));
}

void ArchiveTest::repeatedStoresKeepTheTwoNewest()
{
    QVERIFY(m_db->addClient(4, 4000).isEmpty());
    QVERIFY(openClient(4, 4000));
    QList<QByteArray> images;
    for (int i = 0; i < 5; ++i) {
        images.append(makeJpeg(i + 10));
        m_queries->store(writeFile(QStringLiteral("captura%1.jpg").arg(i), images.last()),
                         QDateTime(QDate(2024, 7, 1), QTime(8, i, 0)));
        QCOMPARE(m_archive->recordCount(), qMin(i + 1, 2));
    }
    const QList<ArchiveRow> rows = m_db->archiveRows(4, 4000);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).image, images.at(3));
    QCOMPARE(rows.at(1).image, images.at(4));
    QCOMPARE(rows.at(1).time, QTime(8, 4, 0));
}

void ArchiveTest::otherClientsAreNeverTouched()
{
    // The same client code in two branches, and a neighbour in the same branch.
    for (const auto &[filial, cod] : {std::pair{1, 100}, std::pair{2, 100}, std::pair{1, 101}})
        QVERIFY(m_db->addClient(filial, cod).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 1), QTime(8, 0), "1/100 a"}).isEmpty());
    QVERIFY(m_db->addArchive({2, 100, QDate(2024, 1, 2), QTime(8, 0), "2/100 a"}).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 3), QTime(8, 0), "1/100 b"}).isEmpty());
    QVERIFY(m_db->addArchive({2, 100, QDate(2024, 1, 4), QTime(8, 0), "2/100 b"}).isEmpty());
    QVERIFY(m_db->addArchive({1, 101, QDate(2023, 1, 1), QTime(8, 0), "1/101 a"}).isEmpty());
    const QList<ArchiveRow> before100 = m_db->archiveRows(1, 100);
    const QList<ArchiveRow> before101 = m_db->archiveRows(1, 101);

    const QByteArray image = makeJpeg(5);
    const QDateTime now(QDate(2024, 8, 8), QTime(8, 8, 8));
    QVERIFY(openClient(2, 100));
    QCOMPARE(m_archive->recordCount(), 2);
    m_queries->store(writeFile(QStringLiteral("c.jpg"), image), now);

    QCOMPARE(m_db->archiveRows(1, 100), before100);
    QCOMPARE(m_db->archiveRows(1, 101), before101);
    const QList<ArchiveRow> rows = m_db->archiveRows(2, 100);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).image, QByteArray("2/100 b"));
    QCOMPARE(rows.at(1), (ArchiveRow{2, 100, now.date(), now.time(), image}));

    QVERIFY(m_clifor->findKey({1, 101}));
    QCOMPARE(m_archive->recordCount(), 1);
    m_queries->store(writeFile(QStringLiteral("c.jpg"), image), now);
    QCOMPARE(m_archive->recordCount(), 2);
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
            << existing << "missing" << "Não foi possível ler o arquivo de captura '%PATH%': No such file or directory";
        QTest::addRow("not a JPEG, %d records", existing)
            << existing << "not jpeg" << QStringLiteral("JPEG error #%1").arg(int(JERR_NO_SOI));
        QTest::addRow("engine refuses the write, %d records", existing)
            << existing << "refused" << "~gravação recusada pelo banco";
    }
    QTest::newRow("capture file empty") << 2 << "empty" << QStringLiteral("JPEG error #%1").arg(int(JERR_INPUT_EMPTY));
    QTest::newRow("capture path is a folder") << 2 << "folder"
                                              << "Não foi possível ler o arquivo de captura '%PATH%': file to open is a directory";
}

void ArchiveTest::failedStoreLeavesTheArchiveAsItWas()
{
    QFETCH(int, existing);
    QFETCH(QString, failure);
    QFETCH(QString, message);

    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(m_db->addClient(1, 200).isEmpty());
    QVERIFY(m_db->addArchive({1, 200, QDate(2024, 1, 1), QTime(7, 0), makeJpeg(200)}).isEmpty());
    for (int i = 0; i < existing; ++i)
        QVERIFY(m_db->addArchive({1, 100, QDate(2024, 2, i + 1), QTime(7, 0), makeJpeg(i)}).isEmpty());
    const QList<ArchiveRow> before = m_db->allArchiveRows();

    QString path = QDir(m_db->dir()).filePath(QStringLiteral("captura.jpg"));
    if (failure == QLatin1String("not jpeg"))
        writeFile(QStringLiteral("captura.jpg"), "This is the result page, but as text.");
    else if (failure == QLatin1String("empty"))
        writeFile(QStringLiteral("captura.jpg"), QByteArray());
    else if (failure == QLatin1String("folder"))
        QVERIFY(QDir(m_db->dir()).mkdir(QStringLiteral("captura.jpg")));
    else if (failure == QLatin1String("refused"))
        writeFile(QStringLiteral("captura.jpg"), makeJpeg(42));
    if (failure == QLatin1String("refused"))
        QVERIFY(m_db->refuseArchiveWrites().isEmpty());

    QVERIFY(openClient(1, 100));
    m_archive->last();
    const QByteArray current = m_queries->currentImage();

    QString caught;
    try {
        m_queries->store(path, QDateTime(QDate(2024, 9, 9), QTime(9, 9, 9)));
    } catch (const AppError &e) {
        caught = e.message();
    }
    if (message.startsWith(QLatin1Char('~'))) {
        QVERIFY2(caught.startsWith(QLatin1String("TDeveZozuvor: ")), qPrintable(caught));
        QVERIFY2(caught.contains(message.mid(1)), qPrintable(caught));
    } else {
        QCOMPARE(caught, message.replace(QLatin1String("%PATH%"), QDir::toNativeSeparators(path)));
    }

    QCOMPARE(m_db->allArchiveRows(), before);
    QCOMPARE(m_archive->state(), Table::State::Browse);
    QVERIFY(!m_archive->inTransaction());
    QCOMPARE(m_archive->recordCount(), existing);
    QCOMPARE(m_queries->currentImage(), current);

    // Nothing is left pending or locked: the next store goes through.
    if (failure == QLatin1String("refused"))
        QVERIFY(m_db->allowArchiveWrites().isEmpty());
    if (failure == QLatin1String("folder"))
        QVERIFY(QDir(m_db->dir()).rmdir(QStringLiteral("captura.jpg")));
    const QByteArray image = makeJpeg(43);
    m_queries->store(writeFile(QStringLiteral("captura.jpg"), image));
    QCOMPARE(m_archive->recordCount(), qMax(existing, qMin(existing + 1, 2)));
    QCOMPARE(m_db->archiveRows(1, 100).last().image, image);
}

void ArchiveTest::needsOpenTablesAndAClient()
{
    const QString path = writeFile(QStringLiteral("captura.jpg"), makeJpeg(1));
    QVERIFY_THROWS_MESSAGE(m_queries->store(path), "TDeveZozuvor: Cannot perform this operation on a closed dataset");
    QVERIFY_THROWS_MESSAGE(m_queries->currentImage(), "TDeveZozuvor: Cannot perform this operation on a closed dataset");

    QVERIFY(!openClient(1, 100));
    QVERIFY_THROWS_MESSAGE(m_queries->store(path), "Nenhum cliente selecionado para arquivar a consulta");
    QCOMPARE(m_db->allArchiveRows().size(), 0);
}

void ArchiveTest::currentImageFollowsTheCursor()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(m_db->addClient(1, 300).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 1), QTime(7, 0), "older"}).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 2), QTime(7, 0), "newer"}).isEmpty());
    QVERIFY(openClient(1, 100));
    QCOMPARE(m_queries->currentImage(), QByteArray("older"));
    m_archive->next();
    QCOMPARE(m_queries->currentImage(), QByteArray("newer"));
    QVERIFY(m_clifor->findKey({1, 300}));
    QCOMPARE(m_queries->currentImage(), QByteArray());
}

void ArchiveTest::twoProcessesStoringAtOnceLoseNothing()
{
    const QString writer = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("store_writer"));
    QVERIFY2(QFile::exists(writer), qPrintable(writer));
    QVERIFY(m_db->addClient(3, 300).isEmpty());
    QVERIFY(m_db->addClient(3, 301).isEmpty());
    QVERIFY(m_db->addArchive({3, 301, QDate(2024, 1, 1), QTime(7, 0), "neighbour"}).isEmpty());
    const QByteArray jpegA = makeJpeg(1, 320, 240);
    const QByteArray jpegB = makeJpeg(2, 200, 300);
    const QString fileA = writeFile(QStringLiteral("a.jpg"), jpegA);
    const QString fileB = writeFile(QStringLiteral("b.jpg"), jpegB);
    // This process holds the database open too, idle, as the window would.
    QVERIFY(openClient(3, 300));

    const int stores = 15;
    QProcess a, b;
    for (auto [process, file] : {std::pair{&a, fileA}, std::pair{&b, fileB}}) {
        process->setProgram(writer);
        process->setArguments({m_db->iniPath(), QStringLiteral("tervik"), QStringLiteral("3"), QStringLiteral("300"),
                               file, QString::number(stores)});
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
    QVERIFY(m_clifor->findKey({3, 300}));
    QCOMPARE(m_archive->recordCount(), 2);
}

QTEST_GUILESS_MAIN(ArchiveTest)
#include "tst_store_archive.moc"
