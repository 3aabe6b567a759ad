#include "clientlookup.h"
#include "queryarchive.h"
#include "testdatabase.h"

#include <QTest>

// The client lookup and the archive's reads, as the business system's tables
// present them, on every engine.
class TablesTest : public DriverTest
{
    Q_OBJECT

private slots:
    void openChecksTheDeclaredFields_data();
    void openChecksTheDeclaredFields();
    void entriesHoldTheClientInArchiveOrder();
    void largeImageRoundTrip();

private:
    QString outcome(bool archive, qint64 filial, qint64 cod);
};

// What the lookup finds ("F/C NOME CGC" or "none"), or how many entries the archive holds after a store; or the error.
QString TablesTest::outcome(bool archive, qint64 filial, qint64 cod)
{
    try {
        if (archive) {
            QueryArchive entries(Client{int(filial), int(cod), {}, {}});
            entries.store(m_db->writeFile(u"captura"_s, makeJpeg(1)), notAbandoned);
            return u"%1 entries"_s.arg(entries.entries().size());
        }
        const std::optional<Client> c = findClient(filial, cod);
        return c ? u"%1/%2 %3 %4"_s.arg(c->filial).arg(c->codClifor).arg(c->nome, c->cgc) : u"none"_s;
    } catch (const AppError &e) {
        return e.message();
    }
}

void TablesTest::openChecksTheDeclaredFields_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<bool>("archive");
    QTest::addColumn<qint64>("filial");
    QTest::addColumn<qint64>("cod");
    QTest::addColumn<QString>("expected"); // on SQLite, "sqlite opens: " and the message on PostgreSQL
    const QString clifor = u"DROP TABLE clifor;CREATE TABLE clifor (Filial %1 NOT NULL, Cod_Clifor INTEGER NOT NULL, "
                           "%2 CGC VARCHAR(14), PRIMARY KEY (Filial, Cod_Clifor))"_s;
    const QString archive = u"DROP TABLE CliforDeveZozuvor;CREATE TABLE CliforDeveZozuvor (Filial INTEGER, Cod_Clifor "
                            "INTEGER, DataCons %1, %2 ResultCons %3);CREATE INDEX arq ON CliforDeveZozuvor (Filial, "
                            "Cod_Clifor)"_s;
    const auto rows = [](const QString &sql) { return sql.split(u';'); };
    QTest::newRow("Sistema missing") << rows(clifor.arg(u"SMALLINT"_s, u"NOME VARCHAR(40),"_s)) << false << 1LL << 100LL
                                     << "TClifor: Field 'Sistema' not found";
    QTest::newRow("NOME is a number") << rows(clifor.arg(u"SMALLINT"_s, u"Sistema CHAR(1), NOME INTEGER,"_s)) << false
                                      << 1LL << 100LL
                                      << "TClifor: Type mismatch for field 'NOME', expecting: String actual: Integer";
    QTest::newRow("Filial is text") << rows(clifor.arg(u"VARCHAR(4)"_s, u"Sistema CHAR(1), NOME VARCHAR(40),"_s))
                                    << false << 1LL << 100LL
                                    << "TClifor: Type mismatch for field 'Filial', expecting: SmallInt actual: String";
    QTest::newRow("ResultCons is text")
        << rows(archive.arg(u"DATE"_s, u"HoraCons TIME,"_s, u"VARCHAR(10)"_s)) << true << 1LL << 100LL
        << "TDeveZozuvor: Type mismatch for field 'ResultCons', expecting: Blob actual: String";
    QTest::newRow("DataCons is a number")
        << rows(archive.arg(u"INTEGER"_s, u"HoraCons TIME,"_s, u"%BLOB%"_s)) << true << 1LL << 100LL
        << "TDeveZozuvor: Type mismatch for field 'DataCons', expecting: Date actual: Integer";
    QTest::newRow("HoraCons missing") << rows(archive.arg(u"DATE"_s, QString(), u"%BLOB%"_s)) << true << 1LL << 100LL
                                      << "TDeveZozuvor: Field 'HoraCons' not found";
    // SQLite keeps times as ISO text.
    QTest::newRow("HoraCons is text")
        << rows(archive.arg(u"DATE"_s, u"HoraCons VARCHAR(12),"_s, u"%BLOB%"_s)) << true << 1LL << 100LL
        << "sqlite opens: TDeveZozuvor: Type mismatch for field 'HoraCons', expecting: Time actual: String";
    QTest::newRow("table missing") << QStringList{u"DROP TABLE clifor"_s} << false << 1LL << 100LL
                                   << "TClifor: Tabela 'clifor' não encontrada";
    QTest::newRow("no index on the client key") << QStringList{u"DROP INDEX CliforDeveZozuvor_cliente"_s} << true << 1LL
                                                << 100LL << "TDeveZozuvor: No index for fields 'Filial;Cod_Clifor'";
    QTest::newRow("extra columns are ignored")
        << rows(u"DROP TABLE clifor;CREATE TABLE clifor (Observacao VARCHAR(20), CGC VARCHAR(14), NOME VARCHAR(40), "
                "Sistema CHAR(1), Cod_Clifor INTEGER NOT NULL, Filial SMALLINT NOT NULL, Limite INTEGER, PRIMARY KEY "
                "(Filial, Cod_Clifor));INSERT INTO clifor (Filial, Cod_Clifor, Sistema, NOME, CGC) VALUES (1, 100, "
                "'S', 'ANA', '11.222.333/01')"_s)
        << false << 1LL << 100LL << "1/100 ANA 11.222.333/01";
    QTest::newRow("extra archive column is ignored")
        << QStringList{u"ALTER TABLE CliforDeveZozuvor ADD COLUMN Usuario VARCHAR(10) DEFAULT 'sistema'"_s} << true
        << 1LL << 100LL << "1 entries";
    // Only the exact client, of any branch in the small integer's range.
    QTest::newRow("the exact client") << QStringList() << false << 2LL << 100LL << "2/100 CIDA 99888777000166";
    QTest::newRow("no such branch") << QStringList() << false << 3LL << 100LL << "none";
    QTest::newRow("no such client") << QStringList() << false << 1LL << 102LL << "none";
    for (const qint64 filial : {40000, 32768, -40000})
        QTest::addRow("%lld", filial) << QStringList() << false << filial << 1LL
                                      << u"%1 is not a valid value for field 'Filial'. The allowed range is -32768 to "
                                         "32767"_s.arg(filial);
    QTest::newRow("lowest allowed") << QStringList() << false << qint64(-32768) << 1LL << "none";
    QTest::newRow("highest allowed") << QStringList() << false << qint64(32767) << 1LL << "none";
}

void TablesTest::openChecksTheDeclaredFields()
{
    QFETCH(QStringList, setup);
    QFETCH(bool, archive);
    QFETCH(qint64, filial);
    QFETCH(qint64, cod);
    QFETCH(QString, expected);
    m_db->addClient(1, 100, u"ANA"_s);
    m_db->addClient(1, 101, u"BIA"_s);
    m_db->addClient(2, 100, u"CIDA"_s, u"99888777000166"_s);
    for (QString sql : std::as_const(setup))
        m_db->exec(sql.replace(u"%BLOB%"_s, m_db->isPostgres() ? u"bytea"_s : u"BLOB"_s));
    if (expected.startsWith(u"sqlite opens: "))
        expected = m_db->isPostgres() ? expected.mid(14) : u"1 entries"_s;
    QCOMPARE(outcome(archive, filial, cod), expected);
}

void TablesTest::entriesHoldTheClientInArchiveOrder()
{
    const QDate d1(2024, 3, 1), d2(2024, 3, 2);
    const QTime t1(9, 0, 0, 125), t2(15, 30, 0, 0);
    // Inserted out of order, with other clients' rows in between; "tie-a" and
    // "tie-b" share date and time and keep their insertion order.
    for (const ArchiveRow &row : QList<ArchiveRow>{{1, 100, d2, t1, "tie-a"},
                                                   {2, 100, d1, t1, "other branch"},
                                                   {1, 100, d1, t2, "second"},
                                                   {1, 101, d1, t1, "other client"},
                                                   {1, 100, d2, t1, "tie-b"},
                                                   {1, 100, d1, t1, "first"},
                                                   {1, 100, d2, t2, "last"}})
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

// A tall report is megabytes; the engine must keep every byte.
void TablesTest::largeImageRoundTrip()
{
    const QByteArray big = makeJpeg(7, 4000, 4000);
    QueryArchive archive(Client{1, 100, {}, {}});
    QCOMPARE(archive.image(archive.store(m_db->writeFile(u"captura"_s, big), notAbandoned).entry), big);
}

QTEST_GUILESS_MAIN(TablesTest)
#include "tst_store_tables.moc"
