#include "companyparameters.h"
#include "testdatabase.h"

#include <QTest>

class ParametersTest : public DriverTest
{
    Q_OBJECT

private slots:
    void readsTheBranchValue_data();
    void readsTheBranchValue();
};

void ParametersTest::readsTheBranchValue_data()
{
    QTest::addColumn<QString>("table"); // empty: the tool's, seeded; "-": none; else the table made anew
    QTest::addColumn<QString>("branch");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected"); // the value; "!" and the error's message; "~" and a part of it
    const QString id = u"eEquifaxAutoIdUsu"_s;
    QTest::newRow("kept untrimmed") << "" << "1" << id << "  operador01 ";
    QTest::newRow("other branch") << "" << "2" << id << "operador02";
    QTest::newRow("key with a quote") << "" << "1" << "chave d'água" << "com aspas";
    QTest::newRow("null value") << "" << "1" << "eEquifaxAutoTagUsu" << "";
    QTest::newRow("no such key") << "" << "1" << "eEquifaxAutoSenhaUsu" << "";
    QTest::newRow("no such branch") << "" << "9" << id << "";
    // The message names the table or the field, for a key that is there and one that is not.
    for (const QString &key : {id, u"nenhuma"_s}) {
        QTest::addRow("missing table, %s", qPrintable(key)) << "-" << "1" << key << "~parametrosempresa";
        QTest::addRow("missing value column, %s", qPrintable(key))
            << "CREATE TABLE ParametrosEmpresa (filial INTEGER, NomeParametro VARCHAR(60), Valor VARCHAR(255))"
            << "1" << key << "!Field 'ValorStr' not found";
    }
}

void ParametersTest::readsTheBranchValue()
{
    QFETCH(QString, table);
    QFETCH(QString, branch);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    const QString insert = u"INSERT INTO ParametrosEmpresa (filial, NomeParametro, ValorStr) VALUES (?, ?, ?)"_s;
    if (table.isEmpty()) {
        m_db->exec(insert, {1, u"eEquifaxAutoIdUsu"_s, u"  operador01 "_s});
        m_db->exec(insert, {2, u"eEquifaxAutoIdUsu"_s, u"operador02"_s});
        m_db->exec(insert, {1, u"eEquifaxAutoURLConsulta"_s, u"http://127.0.0.1:8080/"_s});
        m_db->exec(insert, {1, u"chave d'água"_s, u"com aspas"_s});
        m_db->exec(insert, {1, u"eEquifaxAutoTagUsu"_s, QVariant(QMetaType::fromType<QString>())});
    } else {
        m_db->exec(u"DROP TABLE ParametrosEmpresa"_s);
    }
    if (table.startsWith(u"CREATE")) {
        m_db->exec(table);
        m_db->exec(u"INSERT INTO ParametrosEmpresa VALUES (1, 'eEquifaxAutoIdUsu', 'x')"_s);
    }
    const auto read = [&] { return readParameter(u"tervik"_s, branch, key); };
    if (expected.startsWith(u'!'))
        QCOMPARE(appErrorOf(read), expected.mid(1));
    else if (expected.startsWith(u'~'))
        QVERIFY2(appErrorOf(read).contains(expected.mid(1), Qt::CaseInsensitive), qPrintable(appErrorOf(read)));
    else
        QCOMPARE(read(), expected);
}

QTEST_GUILESS_MAIN(ParametersTest)
#include "tst_store_parameters.moc"
