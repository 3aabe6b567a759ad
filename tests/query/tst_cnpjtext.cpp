#include "cnpjtext.h"

#include <QTest>

class CnpjTextTest : public QObject
{
    Q_OBJECT

private slots:
    void digits_data();
    void digits();
    void punctuated_data();
    void punctuated();
};

void CnpjTextTest::digits_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("digits");

    QTest::newRow("punctuated CNPJ") << "11.222.333/0001-81" << "11222333000181";
    QTest::newRow("letters dropped") << "1x2.3" << "123";
    QTest::newRow("no digits") << "abc./-" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks") << " 12 34 " << "1234";
    QTest::newRow("superscript and fullwidth digits dropped") << QString::fromUtf8("1\u00b22\uff13") << "12";
    QTest::newRow("accented letter dropped") << QString::fromUtf8("9\u00e98") << "98";
}

void CnpjTextTest::digits()
{
    QFETCH(QString, text);
    QFETCH(QString, digits);
    QCOMPARE(ExtraiDigitos(text), digits);
}

void CnpjTextTest::punctuated_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("punctuated");

    QTest::newRow("14 characters") << "ABCDEFGHIJKLMN" << "AB.CDE.FGH/IJKL-MN";
    QTest::newRow("14 digits") << "11222333000181" << "11.222.333/0001-81";
    QTest::newRow("empty") << "" << "../-";
    QTest::newRow("10 characters") << "ABCDEFGHIJ" << "AB.CDE.FGH/IJ-";
    QTest::newRow("11 characters") << "ABCDEFGHIJK" << "AB.CDE.FGH/IJK-";
    QTest::newRow("16 characters") << "ABCDEFGHIJKLMNOP" << "AB.CDE.FGH/IJKL-MN";
    QTest::newRow("one character") << "A" << "A../-";
    QTest::newRow("letters stay in place") << "1122233300018X" << "11.222.333/0001-8X";
    QTest::newRow("already punctuated") << "11.222.333/0001-81" << "11..22.2.3/33/0-00";
}

void CnpjTextTest::punctuated()
{
    QFETCH(QString, text);
    QFETCH(QString, punctuated);
    QCOMPARE(FormataCnpj(text), punctuated);
}

QTEST_APPLESS_MAIN(CnpjTextTest)
#include "tst_cnpjtext.moc"
