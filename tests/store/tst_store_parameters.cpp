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
    void missingTableIsAnError();
    void missingValueColumnIsAnError();

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

void ParametersTest::missingTableIsAnError()
{
    m_db->exec(QStringLiteral("DROP TABLE ParametrosEmpresa"));
    QString message;
    try {
        readParameter(QStringLiteral("tervik"), QStringLiteral("1"), QStringLiteral("eEquifaxAutoIdUsu"));
    } catch (const AppError &e) {
        message = e.message();
    }
    QVERIFY2(message.contains(QLatin1String("parametrosempresa"), Qt::CaseInsensitive), qPrintable(message));
}

void ParametersTest::missingValueColumnIsAnError()
{
    m_db->exec(QStringLiteral("DROP TABLE ParametrosEmpresa"));
    m_db->exec(QStringLiteral(
        "CREATE TABLE ParametrosEmpresa (filial INTEGER, NomeParametro VARCHAR(60), Valor VARCHAR(255))"));
    m_db->exec(QStringLiteral("INSERT INTO ParametrosEmpresa VALUES (1, 'eEquifaxAutoIdUsu', 'x')"));
    QVERIFY_THROWS_MESSAGE(
        readParameter(QStringLiteral("tervik"), QStringLiteral("1"), QStringLiteral("eEquifaxAutoIdUsu")),
        "Field 'ValorStr' not found");
    QVERIFY_THROWS_MESSAGE(readParameter(QStringLiteral("tervik"), QStringLiteral("1"), QStringLiteral("nenhuma")),
                           "Field 'ValorStr' not found");
}

QTEST_GUILESS_MAIN(ParametersTest)
#include "tst_store_parameters.moc"
