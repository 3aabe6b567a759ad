#include "clientlookup.h"
#include "queryarchive.h"
#include "testdatabase.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTest>

// The client lookup and the archive's reads, as the business system's tables
// present them, on every engine.
class TablesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void openChecksTheDeclaredFields_data();
    void openChecksTheDeclaredFields();
    void extraColumnsAreIgnored();
    void filialOutsideSmallIntRange_data();
    void filialOutsideSmallIntRange();
    void findsOnlyTheExactClient();
    void entriesHoldTheClientInArchiveOrder();
    void largeImageRoundTrip();

private:
    QString writeFile(const QByteArray &bytes);

    std::unique_ptr<TestDatabase> m_db;
};

void TablesTest::initTestCase_data()
{
    TestDatabase::addDriverRows();
}

void TablesTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
}

void TablesTest::cleanup()
{
    m_db.reset();
}

QString TablesTest::writeFile(const QByteArray &bytes)
{
    const QString path = QDir(m_db->dir()).filePath(QStringLiteral("captura"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TablesTest::openChecksTheDeclaredFields_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<bool>("archiveTable");
    QTest::addColumn<QString>("message"); // on SQLite, "sqlite opens: " and the message on PostgreSQL

    const QString dropClifor = QStringLiteral("DROP TABLE clifor");
    const QString dropArchive = QStringLiteral("DROP TABLE CliforDeveZozuvor");
    const QString archiveIndex = QStringLiteral("CREATE INDEX arq ON CliforDeveZozuvor (Filial, Cod_Clifor)");

    QTest::newRow("Sistema missing")
        << QStringList{dropClifor, QStringLiteral("CREATE TABLE clifor (Filial SMALLINT NOT NULL, Cod_Clifor INTEGER "
                                                  "NOT NULL, NOME VARCHAR(40), CGC VARCHAR(14), PRIMARY KEY (Filial, "
                                                  "Cod_Clifor))")}
        << false << "TClifor: Field 'Sistema' not found";
    QTest::newRow("NOME is a number")
        << QStringList{dropClifor, QStringLiteral("CREATE TABLE clifor (Filial SMALLINT NOT NULL, Cod_Clifor INTEGER "
                                                  "NOT NULL, Sistema CHAR(1), NOME INTEGER, CGC VARCHAR(14), PRIMARY "
                                                  "KEY (Filial, Cod_Clifor))")}
        << false << "TClifor: Type mismatch for field 'NOME', expecting: String actual: Integer";
    QTest::newRow("Filial is text")
        << QStringList{dropClifor, QStringLiteral("CREATE TABLE clifor (Filial VARCHAR(4) NOT NULL, Cod_Clifor INTEGER "
                                                  "NOT NULL, Sistema CHAR(1), NOME VARCHAR(40), CGC VARCHAR(14), "
                                                  "PRIMARY KEY (Filial, Cod_Clifor))")}
        << false << "TClifor: Type mismatch for field 'Filial', expecting: SmallInt actual: String";
    QTest::newRow("ResultCons is text") << QStringList{
        dropArchive,
        QStringLiteral("CREATE TABLE CliforDeveZozuvor (Filial INTEGER, Cod_Clifor INTEGER, "
                       "DataCons DATE, HoraCons TIME, ResultCons VARCHAR(10))"),
        archiveIndex} << true << "TDeveZozuvor: Type mismatch for field 'ResultCons', expecting: Blob actual: String";
    QTest::newRow("DataCons is a number")
        << QStringList{dropArchive,
                       QStringLiteral("CREATE TABLE CliforDeveZozuvor (Filial INTEGER, Cod_Clifor INTEGER, "
                                      "DataCons INTEGER, HoraCons TIME, ResultCons %BLOB%)"),
                       archiveIndex}
        << true << "TDeveZozuvor: Type mismatch for field 'DataCons', expecting: Date actual: Integer";
    QTest::newRow("HoraCons missing") << QStringList{
        dropArchive,
        QStringLiteral("CREATE TABLE CliforDeveZozuvor (Filial INTEGER, Cod_Clifor INTEGER, "
                       "DataCons DATE, ResultCons %BLOB%)"),
        archiveIndex} << true << "TDeveZozuvor: Field 'HoraCons' not found";
    // SQLite keeps times as ISO text.
    QTest::newRow("HoraCons is text") << QStringList{dropArchive,
                                                     QStringLiteral("CREATE TABLE CliforDeveZozuvor (Filial INTEGER, "
                                                                    "Cod_Clifor INTEGER, DataCons DATE, HoraCons "
                                                                    "VARCHAR(12), ResultCons %BLOB%)"),
                                                     archiveIndex}
                                      << true
                                      << "sqlite opens: TDeveZozuvor: Type mismatch for field 'HoraCons', expecting: "
                                         "Time actual: String";
    QTest::newRow("table missing") << QStringList{dropClifor} << false << "TClifor: Tabela 'clifor' não encontrada";
    QTest::newRow("no index on the client key") << QStringList{QStringLiteral("DROP INDEX CliforDeveZozuvor_cliente")}
                                                << true << "TDeveZozuvor: No index for fields 'Filial;Cod_Clifor'";
}

void TablesTest::openChecksTheDeclaredFields()
{
    QFETCH(QStringList, setup);
    QFETCH(bool, archiveTable);
    QFETCH(QString, message);

    m_db->addClient(1, 100);
    for (QString sql : std::as_const(setup))
        m_db->exec(sql.replace(QLatin1String("%BLOB%"),
                               m_db->isPostgres() ? QStringLiteral("bytea") : QStringLiteral("BLOB")));

    if (message.startsWith(QLatin1String("sqlite opens: ")) && !m_db->isPostgres())
        QVERIFY(QueryArchive(Client{1, 100, {}, {}}).entries().isEmpty());
    else if (archiveTable)
        QVERIFY_THROWS_MESSAGE(QueryArchive(Client{1, 100, {}, {}}), message.remove(QStringLiteral("sqlite opens: ")));
    else
        QVERIFY_THROWS_MESSAGE(findClient(1, 100), message);
}

void TablesTest::extraColumnsAreIgnored()
{
    m_db->exec(QStringLiteral("DROP TABLE clifor"));
    m_db->exec(QStringLiteral("CREATE TABLE clifor (Observacao VARCHAR(20), CGC VARCHAR(14), NOME VARCHAR(40), "
                              "Sistema CHAR(1), Cod_Clifor INTEGER NOT NULL, Filial SMALLINT NOT NULL, "
                              "Limite INTEGER, PRIMARY KEY (Filial, Cod_Clifor))"));
    m_db->exec(QStringLiteral("ALTER TABLE CliforDeveZozuvor ADD COLUMN Usuario VARCHAR(10) DEFAULT 'sistema'"));
    m_db->addClient(1, 100, QStringLiteral("ANA"), QStringLiteral("11.222.333/01"));

    const std::optional<Client> client = findClient(1, 100);
    QVERIFY(client);
    QCOMPARE(client->nome, QStringLiteral("ANA"));
    QCOMPARE(client->cgc, QStringLiteral("11.222.333/01"));

    QueryArchive archive(*client);
    archive.store(writeFile(makeJpeg(1)), notAbandoned, QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5)));
    QSqlQuery q(m_db->otherConnection());
    QVERIFY(q.exec(QStringLiteral("SELECT Usuario, Filial, Cod_Clifor FROM CliforDeveZozuvor")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("sistema"));
    QCOMPARE(q.value(1).toInt(), 1);
    QCOMPARE(q.value(2).toInt(), 100);
}

void TablesTest::filialOutsideSmallIntRange_data()
{
    QTest::addColumn<qint64>("filial");
    QTest::addColumn<QString>("message");
    for (const qint64 filial : {40000, 32768, -40000})
        QTest::addRow("%lld", filial)
            << filial
            << QStringLiteral("%1 is not a valid value for field 'Filial'. The allowed range is -32768 to 32767")
                   .arg(filial);
    QTest::newRow("lowest allowed") << qint64(-32768) << QString();
    QTest::newRow("highest allowed") << qint64(32767) << QString();
}

void TablesTest::filialOutsideSmallIntRange()
{
    QFETCH(qint64, filial);
    QFETCH(QString, message);
    if (message.isEmpty())
        QVERIFY(!findClient(filial, 1));
    else
        QVERIFY_THROWS_MESSAGE(findClient(filial, 1), message);
}

void TablesTest::findsOnlyTheExactClient()
{
    m_db->addClient(1, 100, QStringLiteral("ANA"));
    m_db->addClient(1, 101, QStringLiteral("BIA"));
    m_db->addClient(2, 100, QStringLiteral("CIDA"), QStringLiteral("99888777000166"));

    const std::optional<Client> cida = findClient(2, 100);
    QVERIFY(cida);
    QCOMPARE(cida->filial, 2);
    QCOMPARE(cida->codClifor, 100);
    QCOMPARE(cida->nome, QStringLiteral("CIDA"));
    QCOMPARE(cida->cgc, QStringLiteral("99888777000166"));
    QVERIFY(!findClient(3, 100));
    QVERIFY(!findClient(0, 0));
}

void TablesTest::entriesHoldTheClientInArchiveOrder()
{
    const QDate d1(2024, 3, 1), d2(2024, 3, 2);
    const QTime t1(9, 0, 0, 125), t2(15, 30, 0, 0);
    // Inserted out of order, with other clients' rows in between; "tie-a" and
    // "tie-b" share date and time and keep their insertion order.
    const QList<ArchiveRow> rows = {
        {1, 100, d2, t1, "tie-a"},        {2, 100, d1, t1, "other branch"}, {1, 100, d1, t2, "second"},
        {1, 101, d1, t1, "other client"}, {1, 100, d2, t1, "tie-b"},        {1, 100, d1, t1, "first"},
        {1, 100, d2, t2, "last"},
    };
    for (const ArchiveRow &row : rows)
        m_db->addArchive(row);

    const QueryArchive archive(Client{1, 100, {}, {}});
    const QList<ArchiveEntry> entries = archive.entries();
    QStringList seen;
    for (const ArchiveEntry &entry : entries)
        seen.append(QString::fromLatin1(archive.image(entry)));
    QCOMPARE(seen, (QStringList{"first", "second", "tie-a", "tie-b", "last"}));
    QCOMPARE(entries.first().date, d1);
    QCOMPARE(entries.first().time, t1);
    QCOMPARE(entries.last().time, t2);

    QVERIFY(QueryArchive(Client{3, 300, {}, {}}).entries().isEmpty());
}

void TablesTest::largeImageRoundTrip()
{
    // A tall report is megabytes; the engine must keep every byte.
    m_db->addClient(1, 100);
    const QByteArray big = makeJpeg(7, 4000, 4000);
    QueryArchive archive(Client{1, 100, {}, {}});
    const ArchiveEntry stored = archive.store(writeFile(big), notAbandoned).entry;
    QCOMPARE(archive.image(stored), big);
}

QTEST_GUILESS_MAIN(TablesTest)
#include "tst_store_tables.moc"
