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
    const auto row
        = [](const QString &name, const QString &table, const QString &branch, const QString &key,
             const QString &expected) { QTest::newRow(qPrintable(name)) << table << branch << key << expected; };
    const QString id = u"eEquifaxAutoIdUsu"_s;
    row(u"kept untrimmed"_s, {}, u"1"_s, id, u"  operador01 "_s);
    row(u"other branch"_s, {}, u"2"_s, id, u"operador02"_s);
    row(u"key with a quote"_s, {}, u"1"_s, u"chave d'água"_s, u"com aspas"_s);
    row(u"null value"_s, {}, u"1"_s, u"eEquifaxAutoTagUsu"_s, {});
    row(u"no such key"_s, {}, u"1"_s, u"eEquifaxAutoSenhaUsu"_s, {});
    row(u"no such branch"_s, {}, u"9"_s, id, {});
    // The message names the table or the field, for a key that is there and one that is not.
    for (const QString &key : {id, u"nenhuma"_s}) {
        row(u"missing table, "_s + key, u"-"_s, u"1"_s, key, u"~parametrosempresa"_s);
        row(u"missing value column, "_s + key,
            u"CREATE TABLE ParametrosEmpresa (filial INTEGER, NomeParametro VARCHAR(60), Valor VARCHAR(255))"_s, u"1"_s,
            key, u"!Field 'ValorStr' not found"_s);
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
