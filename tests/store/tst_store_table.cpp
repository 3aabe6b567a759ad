#include "table.h"
#include "tervikschema.h"
#include "testdatabase.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QLocale>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>

class TableTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void openChecksTheDeclaredFields_data();
    void openChecksTheDeclaredFields();
    void extraColumnsAreIgnored();
    void closedDatasetRefusesMovesAndCounts_data();
    void closedDatasetRefusesMovesAndCounts();
    void filialOutsideSmallIntRange_data();
    void filialOutsideSmallIntRange();
    void findKeyPositionsOnTheClient();
    void detailHoldsTheMasterRangeInArchiveOrder();
    void detailFollowsTheMaster();
    void movesStayAtTheEnds();
    void insertTakesTheMasterKeyAndCancelRestores();
    void movePostsAChangedInsertAndDropsAnUntouchedOne();
    void editPostsOnlyTheRecord();
    void writingNeedsInsertOrEdit();
    void valuesComeBackTyped();
    void blobRoundTrip_data();
    void blobRoundTrip();
    void displayText();

private:
    bool openClient(int filial, int cod);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<QObject> m_owner;
    Table *m_clifor = nullptr;
    Table *m_archive = nullptr;
};

void TableTest::initTestCase_data()
{
    TestDatabase::addDriverRows();
}

void TableTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_owner = std::make_unique<QObject>();
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
    m_clifor = makeCliforTable(m_owner.get());
    m_archive = makeArchiveTable(m_clifor, m_owner.get());
}

void TableTest::cleanup()
{
    m_clifor = nullptr;
    m_archive = nullptr;
    m_owner.reset();
    m_db.reset();
}

bool TableTest::openClient(int filial, int cod)
{
    m_clifor->open();
    m_archive->open();
    return m_clifor->findKey({filial, cod});
}

void TableTest::openChecksTheDeclaredFields_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<bool>("archiveTable");
    QTest::addColumn<QString>("message");

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
    QTest::newRow("ResultCons is text")
        << QStringList{dropArchive, QStringLiteral("CREATE TABLE CliforDeveZozuvor (Filial INTEGER, Cod_Clifor INTEGER, "
                                                   "DataCons DATE, HoraCons TIME, ResultCons VARCHAR(10))"),
                       archiveIndex}
        << true << "TDeveZozuvor: Type mismatch for field 'ResultCons', expecting: Blob actual: String";
    QTest::newRow("DataCons is a number")
        << QStringList{dropArchive, QStringLiteral("CREATE TABLE CliforDeveZozuvor (Filial INTEGER, Cod_Clifor INTEGER, "
                                                   "DataCons INTEGER, HoraCons TIME, ResultCons %BLOB%)"),
                       archiveIndex}
        << true << "TDeveZozuvor: Type mismatch for field 'DataCons', expecting: Date actual: Integer";
    QTest::newRow("HoraCons missing")
        << QStringList{dropArchive, QStringLiteral("CREATE TABLE CliforDeveZozuvor (Filial INTEGER, Cod_Clifor INTEGER, "
                                                   "DataCons DATE, ResultCons %BLOB%)"),
                       archiveIndex}
        << true << "TDeveZozuvor: Field 'HoraCons' not found";
    QTest::newRow("table missing") << QStringList{dropClifor} << false << "TClifor: Tabela 'clifor' não encontrada";
    QTest::newRow("no index on the client key")
        << QStringList{QStringLiteral("DROP INDEX CliforDeveZozuvor_cliente")} << true
        << "TDeveZozuvor: No index for fields 'Filial;Cod_Clifor'";
}

void TableTest::openChecksTheDeclaredFields()
{
    QFETCH(QStringList, setup);
    QFETCH(bool, archiveTable);
    QFETCH(QString, message);

    for (QString sql : std::as_const(setup))
        EXEC(*m_db, sql.replace(QLatin1String("%BLOB%"), m_db->isPostgres() ? QStringLiteral("bytea") : QStringLiteral("BLOB")));

    Table *table = archiveTable ? m_archive : m_clifor;
    QVERIFY_THROWS_MESSAGE(table->open(), message);
    QVERIFY(!table->isActive());
    QCOMPARE(table->state(), Table::State::Inactive);
}

void TableTest::extraColumnsAreIgnored()
{
    EXEC(*m_db, QStringLiteral("DROP TABLE clifor"));
    EXEC(*m_db, QStringLiteral("CREATE TABLE clifor (Observacao VARCHAR(20), CGC VARCHAR(14), NOME VARCHAR(40), "
                               "Sistema CHAR(1), Cod_Clifor INTEGER NOT NULL, Filial SMALLINT NOT NULL, "
                               "Limite INTEGER, PRIMARY KEY (Filial, Cod_Clifor))"));
    EXEC(*m_db, QStringLiteral("ALTER TABLE CliforDeveZozuvor ADD COLUMN Usuario VARCHAR(10) DEFAULT 'sistema'"));
    QVERIFY(m_db->addClient(1, 100, QStringLiteral("ANA")).isEmpty());

    QVERIFY(openClient(1, 100));
    QCOMPARE(m_clifor->value(QStringLiteral("NOME")).toString(), QStringLiteral("ANA"));
    QCOMPARE(m_clifor->value(QStringLiteral("Cod_Clifor")).toInt(), 100);

    m_archive->insert();
    m_archive->setValue(QStringLiteral("DataCons"), QDate(2024, 1, 2));
    m_archive->post();
    QCOMPARE(m_archive->recordCount(), 1);

    QSqlQuery q(m_db->otherConnection());
    QVERIFY(q.exec(QStringLiteral("SELECT Usuario, Filial, Cod_Clifor FROM CliforDeveZozuvor")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("sistema"));
    QCOMPARE(q.value(1).toInt(), 1);
    QCOMPARE(q.value(2).toInt(), 100);
}

void TableTest::closedDatasetRefusesMovesAndCounts_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("openedBefore");
    for (const char *op : {"first", "last", "prior", "next", "recordCount"}) {
        QTest::addRow("%s never opened", op) << QString::fromLatin1(op) << false;
        QTest::addRow("%s after close", op) << QString::fromLatin1(op) << true;
    }
}

void TableTest::closedDatasetRefusesMovesAndCounts()
{
    QFETCH(QString, operation);
    QFETCH(bool, openedBefore);
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    if (openedBefore) {
        m_clifor->open();
        m_clifor->close();
    }
    const auto run = [&]() {
        if (operation == QLatin1String("first"))
            m_clifor->first();
        else if (operation == QLatin1String("last"))
            m_clifor->last();
        else if (operation == QLatin1String("prior"))
            m_clifor->prior();
        else if (operation == QLatin1String("next"))
            m_clifor->next();
        else
            m_clifor->recordCount();
    };
    QVERIFY_THROWS_MESSAGE(run(), "TClifor: Cannot perform this operation on a closed dataset");
    QCOMPARE(m_clifor->displayText(QStringLiteral("NOME")), QString());
}

void TableTest::filialOutsideSmallIntRange_data()
{
    QTest::addColumn<QVariant>("filial");
    QTest::addColumn<QString>("message");
    QTest::newRow("40000") << QVariant(40000) << "40000 is not a valid value for field 'Filial'. The allowed range is -32768 to 32767";
    QTest::newRow("32768") << QVariant(32768) << "32768 is not a valid value for field 'Filial'. The allowed range is -32768 to 32767";
    QTest::newRow("-40000 as text") << QVariant(QStringLiteral("-40000"))
                                    << "-40000 is not a valid value for field 'Filial'. The allowed range is -32768 to 32767";
    QTest::newRow("lowest allowed") << QVariant(-32768) << QString();
    QTest::newRow("highest allowed") << QVariant(32767) << QString();
}

void TableTest::filialOutsideSmallIntRange()
{
    QFETCH(QVariant, filial);
    QFETCH(QString, message);
    m_clifor->open();
    if (message.isEmpty())
        QCOMPARE(m_clifor->findKey({filial, 1}), false);
    else
        QVERIFY_THROWS_MESSAGE(m_clifor->findKey({filial, 1}), message);
}

void TableTest::findKeyPositionsOnTheClient()
{
    QVERIFY(m_db->addClient(1, 100, QStringLiteral("ANA")).isEmpty());
    QVERIFY(m_db->addClient(1, 101, QStringLiteral("BIA")).isEmpty());
    QVERIFY(m_db->addClient(2, 100, QStringLiteral("CIDA")).isEmpty());
    m_clifor->open();
    QCOMPARE(m_clifor->recordCount(), 3);

    QVERIFY(m_clifor->findKey({2, 100}));
    QCOMPARE(m_clifor->value(QStringLiteral("NOME")).toString(), QStringLiteral("CIDA"));
    QVERIFY(!m_clifor->findKey({3, 100}));
    QCOMPARE(m_clifor->value(QStringLiteral("NOME")).toString(), QStringLiteral("CIDA"));
    QVERIFY(m_clifor->findKey({QStringLiteral("1"), QStringLiteral("101")}));
    QCOMPARE(m_clifor->value(QStringLiteral("NOME")).toString(), QStringLiteral("BIA"));
    m_clifor->prior();
    QCOMPARE(m_clifor->value(QStringLiteral("NOME")).toString(), QStringLiteral("ANA"));
}

void TableTest::detailHoldsTheMasterRangeInArchiveOrder()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(m_db->addClient(2, 100).isEmpty());
    QVERIFY(m_db->addClient(1, 101).isEmpty());
    const QDate d1(2024, 3, 1), d2(2024, 3, 2);
    const QTime t1(9, 0, 0, 125), t2(15, 30, 0, 0);
    // Inserted out of order, with other clients' rows in between; "tie-a" and
    // "tie-b" share date and time and keep their insertion order.
    const QList<ArchiveRow> rows = {
        {1, 100, d2, t1, "tie-a"}, {2, 100, d1, t1, "other branch"}, {1, 100, d1, t2, "second"},
        {1, 101, d1, t1, "other client"}, {1, 100, d2, t1, "tie-b"}, {1, 100, d1, t1, "first"},
        {1, 100, d2, t2, "last"},
    };
    for (const ArchiveRow &row : rows)
        QVERIFY(m_db->addArchive(row).isEmpty());

    QVERIFY(openClient(1, 100));
    QCOMPARE(m_archive->recordCount(), 5);
    QStringList seen;
    m_archive->first();
    for (int i = 0; i < 5; ++i) {
        seen.append(QString::fromLatin1(m_archive->value(QStringLiteral("ResultCons")).toByteArray()));
        QCOMPARE(m_archive->value(QStringLiteral("Filial")).toInt(), 1);
        QCOMPARE(m_archive->value(QStringLiteral("Cod_Clifor")).toInt(), 100);
        m_archive->next();
    }
    QCOMPARE(seen, (QStringList{"first", "second", "tie-a", "tie-b", "last"}));
}

void TableTest::detailFollowsTheMaster()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(m_db->addClient(2, 100).isEmpty());
    QVERIFY(m_db->addClient(3, 300).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 1), QTime(8, 0), "a1"}).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 2), QTime(8, 0), "a2"}).isEmpty());
    QVERIFY(m_db->addArchive({2, 100, QDate(2024, 1, 5), QTime(8, 0), "b2"}).isEmpty());
    QVERIFY(m_db->addArchive({2, 100, QDate(2024, 1, 3), QTime(8, 0), "b1"}).isEmpty());

    QVERIFY(openClient(1, 100));
    m_archive->last();
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("a2"));

    QSignalSpy changed(m_archive, &Table::dataChanged);
    QVERIFY(m_clifor->findKey({2, 100}));
    QVERIFY(changed.count() >= 1);
    QCOMPARE(m_archive->recordCount(), 2);
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("b1"));

    QVERIFY(m_clifor->findKey({3, 300}));
    QCOMPARE(m_archive->recordCount(), 0);
    QVERIFY(!m_archive->hasRecord());
    QCOMPARE(m_archive->displayText(QStringLiteral("DataCons")), QString());

    m_clifor->close();
    QCOMPARE(m_archive->recordCount(), 0);
}

void TableTest::movesStayAtTheEnds()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    for (int day = 1; day <= 3; ++day)
        QVERIFY(m_db->addArchive({1, 100, QDate(2024, 2, day), QTime(10, 0), QByteArray::number(day)}).isEmpty());
    QVERIFY(openClient(1, 100));
    const auto current = [this]() { return m_archive->value(QStringLiteral("ResultCons")).toByteArray(); };

    QCOMPARE(current(), QByteArray("1"));
    m_archive->prior();
    QCOMPARE(current(), QByteArray("1"));
    m_archive->next();
    QCOMPARE(current(), QByteArray("2"));
    m_archive->last();
    m_archive->next();
    QCOMPARE(current(), QByteArray("3"));
    m_archive->prior();
    QCOMPARE(current(), QByteArray("2"));
    m_archive->first();
    QCOMPARE(current(), QByteArray("1"));

    QVERIFY(m_db->addClient(1, 200).isEmpty());
    QVERIFY(m_clifor->findKey({1, 200}));
    m_archive->first();
    m_archive->next();
    m_archive->last();
    m_archive->prior();
    QVERIFY(!m_archive->hasRecord());
}

void TableTest::insertTakesTheMasterKeyAndCancelRestores()
{
    QVERIFY(m_db->addClient(7, 700).isEmpty());
    QVERIFY(m_db->addArchive({7, 700, QDate(2024, 1, 1), QTime(8, 0), "old"}).isEmpty());
    QVERIFY(m_db->addArchive({7, 700, QDate(2024, 1, 2), QTime(8, 0), "new"}).isEmpty());
    QVERIFY(openClient(7, 700));
    m_archive->last();

    QSignalSpy states(m_archive, &Table::stateChanged);
    m_archive->insert();
    QCOMPARE(m_archive->state(), Table::State::Insert);
    QCOMPARE(m_archive->value(QStringLiteral("Filial")), QVariant(7));
    QCOMPARE(m_archive->value(QStringLiteral("Cod_Clifor")), QVariant(700));
    QVERIFY(m_archive->value(QStringLiteral("ResultCons")).isNull());
    m_archive->setValue(QStringLiteral("ResultCons"), QByteArray("dropped"));
    m_archive->cancel();

    QCOMPARE(m_archive->state(), Table::State::Browse);
    QCOMPARE(states.count(), 2);
    QVERIFY(!m_archive->inTransaction());
    QCOMPARE(m_archive->recordCount(), 2);
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("new"));
    QCOMPARE(m_db->archiveRows(7, 700).size(), 2);
}

void TableTest::movePostsAChangedInsertAndDropsAnUntouchedOne()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(openClient(1, 100));

    m_archive->insert();
    m_archive->first();
    QCOMPARE(m_archive->state(), Table::State::Browse);
    QCOMPARE(m_archive->recordCount(), 0);

    m_archive->insert();
    m_archive->setValue(QStringLiteral("DataCons"), QDate(2024, 5, 6));
    m_archive->setValue(QStringLiteral("ResultCons"), QByteArray("kept"));
    m_archive->first();
    QCOMPARE(m_archive->state(), Table::State::Browse);
    QCOMPARE(m_archive->recordCount(), 1);
    const QList<ArchiveRow> rows = m_db->archiveRows(1, 100);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.at(0).image, QByteArray("kept"));
    QCOMPARE(rows.at(0).date, QDate(2024, 5, 6));
}

void TableTest::editPostsOnlyTheRecord()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 1), QTime(8, 0), "one"}).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 2), QTime(8, 0), "two"}).isEmpty());
    QVERIFY(m_db->addArchive({1, 101, QDate(2024, 1, 1), QTime(8, 0), "neighbour"}).isEmpty());
    QVERIFY(openClient(1, 100));

    m_archive->edit();
    QCOMPARE(m_archive->state(), Table::State::Edit);
    m_archive->setValue(QStringLiteral("DataCons"), QDate(2024, 1, 3));
    m_archive->setValue(QStringLiteral("ResultCons"), QByteArray("one, rewritten"));
    m_archive->post();

    // The rewritten record is now the newest and stays current.
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("one, rewritten"));
    m_archive->next();
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("one, rewritten"));
    m_archive->first();
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("two"));
    QCOMPARE(m_db->archiveRows(1, 101).size(), 1);
    QCOMPARE(m_db->archiveRows(1, 101).at(0).image, QByteArray("neighbour"));
}

void TableTest::writingNeedsInsertOrEdit()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 1, 1), QTime(8, 0), "one"}).isEmpty());
    QVERIFY(openClient(1, 100));
    QVERIFY_THROWS_MESSAGE(m_archive->setValue(QStringLiteral("ResultCons"), QByteArray("x")),
                           "TDeveZozuvor: Dataset not in edit or insert mode");
    QVERIFY_THROWS_MESSAGE(m_archive->createBlobStream(QStringLiteral("ResultCons"), QIODevice::WriteOnly),
                           "TDeveZozuvor: Dataset not in edit or insert mode");
    QVERIFY_THROWS_MESSAGE(m_archive->value(QStringLiteral("Imagem")), "TDeveZozuvor: Field 'Imagem' not found");

    m_archive->edit();
    std::unique_ptr<QIODevice> stream = m_archive->createBlobStream(QStringLiteral("ResultCons"), QIODevice::WriteOnly);
    QVERIFY(m_archive->value(QStringLiteral("ResultCons")).isNull());
    stream->write("replacement");
    stream->close();
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("replacement"));
    m_archive->cancel();
    QCOMPARE(m_archive->value(QStringLiteral("ResultCons")).toByteArray(), QByteArray("one"));
}

void TableTest::valuesComeBackTyped()
{
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(openClient(1, 100));
    m_archive->insert();
    m_archive->setValue(QStringLiteral("DataCons"), QDate(2023, 12, 31));
    m_archive->setValue(QStringLiteral("HoraCons"), QTime(23, 59, 58, 987));
    m_archive->post();
    m_archive->close();
    m_archive->open();

    QCOMPARE(m_archive->value(QStringLiteral("Filial")).metaType(), QMetaType::fromType<int>());
    QCOMPARE(m_archive->value(QStringLiteral("DataCons")), QVariant(QDate(2023, 12, 31)));
    QCOMPARE(m_archive->value(QStringLiteral("HoraCons")), QVariant(QTime(23, 59, 58, 987)));
    QVERIFY(m_archive->value(QStringLiteral("ResultCons")).isNull());
    QCOMPARE(m_clifor->value(QStringLiteral("Filial")).metaType(), QMetaType::fromType<int>());
    QCOMPARE(m_clifor->value(QStringLiteral("Sistema")), QVariant(QStringLiteral("S")));
}

void TableTest::blobRoundTrip_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::newRow("1 MB") << qsizetype(1) * 1024 * 1024;
    QTest::newRow("50 MB") << qsizetype(50) * 1024 * 1024;
}

void TableTest::blobRoundTrip()
{
    QFETCH(qsizetype, size);
    const QByteArray bytes = randomBytes(size, quint32(size));
    QVERIFY(m_db->addClient(1, 100).isEmpty());
    QVERIFY(openClient(1, 100));

    QElapsedTimer timer;
    timer.start();
    m_archive->insert();
    {
        std::unique_ptr<QIODevice> out = m_archive->createBlobStream(QStringLiteral("ResultCons"), QIODevice::WriteOnly);
        for (qsizetype at = 0; at < bytes.size(); at += 64 * 1024)
            QCOMPARE(out->write(bytes.constData() + at, qMin<qsizetype>(64 * 1024, bytes.size() - at)),
                     qMin<qsizetype>(64 * 1024, bytes.size() - at));
        out->close();
    }
    m_archive->post();
    m_archive->saveChanges();
    m_archive->close();
    m_clifor->close();

    QVERIFY(openClient(1, 100));
    QCOMPARE(m_archive->displayText(QStringLiteral("ResultCons")), QStringLiteral("(BLOB)"));
    std::unique_ptr<QIODevice> in = m_archive->createBlobStream(QStringLiteral("ResultCons"), QIODevice::ReadOnly);
    const QByteArray back = in->readAll();
    QCOMPARE(back.size(), bytes.size());
    QVERIFY(back == bytes);
    qInfo("%lld bytes written and read back in %lld ms", qlonglong(size), qlonglong(timer.elapsed()));

    const QList<ArchiveRow> stored = m_db->archiveRows(1, 100);
    QCOMPARE(stored.size(), 1);
    QVERIFY(stored.at(0).image == bytes);
}

void TableTest::displayText()
{
    // The test runs under LC_ALL=pt_BR.UTF-8 (see CMakeLists.txt).
    QCOMPARE(QLocale::system().name(), QStringLiteral("pt_BR"));
    QVERIFY(m_db->addClient(1, 100, QStringLiteral("JOSÉ D'ÁVILA")).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 3, 5), QTime(14, 7, 9, 250), "jpeg"}).isEmpty());
    QVERIFY(m_db->addArchive({1, 100, QDate(2024, 3, 6), QTime(8, 0, 1), QByteArray()}).isEmpty());
    QVERIFY(openClient(1, 100));

    QCOMPARE(m_clifor->displayText(QStringLiteral("Filial")), QStringLiteral("1"));
    QCOMPARE(m_clifor->displayText(QStringLiteral("Cod_Clifor")), QStringLiteral("100"));
    QCOMPARE(m_clifor->displayText(QStringLiteral("NOME")), QStringLiteral("JOSÉ D'ÁVILA"));
    QCOMPARE(m_archive->displayText(QStringLiteral("DataCons")), QStringLiteral("05/03/2024"));
    QCOMPARE(m_archive->displayText(QStringLiteral("HoraCons")), QStringLiteral("14:07:09"));
    QCOMPARE(m_archive->displayText(QStringLiteral("ResultCons")), QStringLiteral("(BLOB)"));
    m_archive->next();
    QCOMPARE(m_archive->displayText(QStringLiteral("HoraCons")), QStringLiteral("08:00:01"));
    QCOMPARE(m_archive->displayText(QStringLiteral("ResultCons")), QString());
    m_archive->close();
    QCOMPARE(m_archive->displayText(QStringLiteral("DataCons")), QString());
}

QTEST_GUILESS_MAIN(TableTest)
#include "tst_store_table.moc"
