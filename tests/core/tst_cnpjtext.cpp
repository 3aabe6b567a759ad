#include "cnpjtext.h"

#include <QTest>

using Form = QString (*)(const QString &);
Q_DECLARE_METATYPE(Form)

class CnpjTextTest : public QObject
{
    Q_OBJECT

private slots:
    void forms_data();
    void forms();
    void valid_data();
    void valid();
};

// The two forms of a CNPJ and its capture file's name (its 14 digits or letters, in capitals whatever the
// record's case).
void CnpjTextTest::forms_data()
{
    QTest::addColumn<Form>("form");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *formName, const char *name, const QString &text, const char *expected) {
        static const QHash<QByteArray, Form> forms{
            {"digits", ExtraiDigitos}, {"punctuated", FormataCnpj}, {"file name", captureFileName}};
        QTest::addRow("%s: %s", formName, name) << forms.value(formName) << text << QString::fromUtf8(expected);
    };
    row("digits", "punctuated CNPJ", "11.222.333/0001-81", "11222333000181");
    row("digits", "letters dropped", "1x2.3", "123");
    row("digits", "no digits", "abc./-", "");
    row("digits", "empty", "", "");
    row("digits", "blanks", " 12 34 ", "1234");
    row("digits", "superscript and fullwidth digits dropped", QString::fromUtf8("1\u00b22\uff13"), "12");
    row("digits", "accented letter dropped", QString::fromUtf8("9\u00e98"), "98");
    row("punctuated", "14 characters", "ABCDEFGHIJKLMN", "AB.CDE.FGH/IJKL-MN");
    row("punctuated", "14 digits", "11222333000181", "11.222.333/0001-81");
    row("punctuated", "empty", "", "../-");
    row("punctuated", "10 characters", "ABCDEFGHIJ", "AB.CDE.FGH/IJ-");
    row("punctuated", "11 characters", "ABCDEFGHIJK", "AB.CDE.FGH/IJK-");
    row("punctuated", "16 characters", "ABCDEFGHIJKLMNOP", "AB.CDE.FGH/IJKL-MN");
    row("punctuated", "one character", "A", "A../-");
    row("punctuated", "letters stay in place", "1122233300018X", "11.222.333/0001-8X");
    row("punctuated", "lower case goes out in capitals", "12abc34501de35", "12.ABC.345/01DE-35");
    row("punctuated", "already punctuated", "11.222.333/0001-81", "11..22.2.3/33/0-00");
    row("file name", "numeric", "11222333000181", "11222333000181");
    row("file name", "alphanumeric in capitals", "12ABC34501DE35", "12ABC34501DE35");
    row("file name", "alphanumeric in lower case", "12abc34501de35", "12ABC34501DE35");
}

void CnpjTextTest::forms()
{
    QFETCH(Form, form);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(form(text), expected);
}

// Check digits by hand: value = ASCII code - 48 (A 17 ... Z 42), weights 5432 98765432, then 6 5432 98765432 over
// the 12 and the first check digit; a remainder of 0 or 1 gives 0, any other 11 minus it.
// 12ABC34501DE: 1 2 17 18 19 3 4 5 0 1 20 21 -> 5+8+51+36+171+24+28+30+0+4+60+42 = 459, 459 % 11 = 8 -> 3;
//   with the 3: 6+10+68+54+38+27+32+35+0+5+80+63+6 = 424, 424 % 11 = 6 -> 5: 12ABC34501DE35
// TERVIK010001: 36 21 34 38 25 27 0 1 0 0 0 1 -> 180+84+102+76+225+216+0+6+0+0+0+2 = 891, 891 % 11 = 0 -> 0;
//   with the 0: 216+105+136+114+50+243+0+7+0+0+0+3+0 = 874, 874 % 11 = 5 -> 6: TERVIK01000106
// 0AZ9XY120001: 0 17 42 9 40 41 1 2 0 0 0 1 -> 0+68+126+18+360+328+7+12+0+0+0+2 = 921, 921 % 11 = 8 -> 3;
//   with the 3: 0+85+168+27+80+369+8+14+0+0+0+3+6 = 760, 760 % 11 = 1 -> 0: 0AZ9XY12000130
void CnpjTextTest::valid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");

    QTest::newRow("numeric") << "11222333000181" << true;
    QTest::newRow("numeric, both remainders below 2") << "99888777000100" << true;
    QTest::newRow("numeric, first check digit wrong") << "11222333000171" << false;
    QTest::newRow("numeric, second check digit wrong") << "11222333000182" << false;
    QTest::newRow("alphanumeric") << "12ABC34501DE35" << true;
    QTest::newRow("alphanumeric, first remainder 0") << "TERVIK01000106" << true;
    QTest::newRow("alphanumeric, second remainder 1") << "0AZ9XY12000130" << true;
    QTest::newRow("alphanumeric, second check digit wrong") << "12ABC34501DE36" << false;
    QTest::newRow("alphanumeric, letters swapped") << "12ACB34501DE35" << false;
    QTest::newRow("lower case") << "12abc34501de35" << true;
    // '<' weighs 12, one more than 11 past '1', so the sums keep their remainders.
    QTest::newRow("'<' in place of a 1") << "1<222333000181" << false;
    QTest::newRow("dotless i, which upper-cases to I") << QString::fromUtf8("TERV\u0131K01000106") << false;
    QTest::newRow("fullwidth digit") << QString::fromUtf8("1122233300018\uff11") << false;
    QTest::newRow("13 characters") << "1122233300018" << false;
    QTest::newRow("15 characters") << "112223330001810" << false;
    QTest::newRow("leading blank") << " 11222333000181" << false;
    QTest::newRow("trailing blank") << "11222333000181 " << false;
    QTest::newRow("blank inside") << "11222 33000181" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("punctuated numeric") << "11.222.333/0001-81" << false;
    QTest::newRow("punctuated alphanumeric") << "12.ABC.345/01DE-35" << false;
}

void CnpjTextTest::valid()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidCnpj(text), valid);
}

QTEST_APPLESS_MAIN(CnpjTextTest)
#include "tst_cnpjtext.moc"
