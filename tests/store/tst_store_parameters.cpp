#include "companyparameters.h"
#include "testdatabase.h"

#include <QTest>

class ParametersTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void init();
    void cleanup();

    void readsTheBranchValue_data();
    void readsTheBranchValue();
    void refusals_data();
    void refusals();

private:
    std::unique_ptr<TestDatabase> m_db;
};

void ParametersTest::initTestCase_data()
{
    TestDatabase::addDriverRows();
}

void ParametersTest::init()
{
    QFETCH_GLOBAL(QString, driver);
    m_db = std::make_unique<TestDatabase>();
    CREATE_TEST_DATABASE(*m_db, driver);
    const QString insert
        = QStringLiteral("INSERT INTO ParametrosEmpresa (filial, NomeParametro, ValorStr) VALUES (?, ?, ?)");
    m_db->exec(insert, {1, QStringLiteral("eEquifaxAutoIdUsu"), QStringLiteral("  operador01 ")});
    m_db->exec(insert, {2, QStringLiteral("eEquifaxAutoIdUsu"), QStringLiteral("operador02")});
    m_db->exec(insert, {1, QStringLiteral("eEquifaxAutoURLConsulta"), QStringLiteral("http://127.0.0.1:8080/")});
    m_db->exec(insert, {1, QStringLiteral("chave d'água"), QStringLiteral("com aspas")});
    m_db->exec(insert, {1, QStringLiteral("eEquifaxAutoTagUsu"), QVariant(QMetaType::fromType<QString>())});
}

void ParametersTest::cleanup()
{
    m_db.reset();
}

void ParametersTest::readsTheBranchValue_data()
{
    QTest::addColumn<QString>("branch");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("kept untrimmed") << "1"
                                    << "eEquifaxAutoIdUsu"
                                    << "  operador01 ";
    QTest::newRow("other branch") << "2"
                                  << "eEquifaxAutoIdUsu"
                                  << "operador02";
    QTest::newRow("key with a quote") << "1"
                                      << "chave d'água"
                                      << "com aspas";
    QTest::newRow("null value") << "1"
                                << "eEquifaxAutoTagUsu"
                                << "";
    QTest::newRow("no such key") << "1"
                                 << "eEquifaxAutoSenhaUsu"
                                 << "";
    QTest::newRow("no such branch") << "9"
                                    << "eEquifaxAutoIdUsu"
                                    << "";
}

void ParametersTest::readsTheBranchValue()
{
    QFETCH(QString, branch);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(readParameter(QStringLiteral("tervik"), branch, key), value);
}

void ParametersTest::refusals_data()
{
    QTest::addColumn<QString>("table"); // the table made anew; none when empty
    QTest::addColumn<QString>("message");
    QTest::newRow("missing table") << ""
                                   << "parametrosempresa";
    QTest::newRow("missing value column")
        << "CREATE TABLE ParametrosEmpresa (filial INTEGER, NomeParametro VARCHAR(60), Valor VARCHAR(255))"
        << "Field 'ValorStr' not found";
}

// The message names the table or the field, for a key that is there and one that is not.
void ParametersTest::refusals()
{
    QFETCH(QString, table);
    QFETCH(QString, message);
    m_db->exec(QStringLiteral("DROP TABLE ParametrosEmpresa"));
    if (!table.isEmpty()) {
        m_db->exec(table);
        m_db->exec(QStringLiteral("INSERT INTO ParametrosEmpresa VALUES (1, 'eEquifaxAutoIdUsu', 'x')"));
    }
    for (const QString key : {QStringLiteral("eEquifaxAutoIdUsu"), QStringLiteral("nenhuma")}) {
        QString caught;
        try {
            readParameter(QStringLiteral("tervik"), QStringLiteral("1"), key);
        } catch (const AppError &e) {
            caught = e.message();
        }
        QVERIFY2(table.isEmpty() ? caught.contains(message, Qt::CaseInsensitive) : caught == message,
                 qPrintable(caught));
    }
}

QTEST_GUILESS_MAIN(ParametersTest)
#include "tst_store_parameters.moc"
