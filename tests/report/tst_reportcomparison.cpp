#include "changecount.h"
#include "jpegcodec.h"
#include "reportcomparison.h"

#include <QPainter>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int RowHeight = 100;
constexpr int Width = 760;
constexpr int Indent = 40;

using Row = std::pair<QColor, QString>; // a 100 px row: its background and its 12 px line of text

QList<Row> revision(int number, const QString &typed = u"1.234,56 em 05/11/2026"_s)
{
    static const QRgb colours[] = {0xc00000, 0x00a000, 0x0000c0, 0xc0c000, 0x00c0c0, 0xc000c0};
    QList<Row> rows{{QColor(colours[0]), u"Relatório de crédito - CNPJ 11.222.333/0001-81"_s}};
    for (int i = 1; rows.size() < 30; ++i) {
        if (number == 2 && i == 3)
            rows.append({QColor(colours[1]), u"Nova linha - crédito negado"_s});
        if (number == 2 && i == 12)
            continue;
        rows.append({QColor(colours[i % 6]), number == 2 && i == 5 ? u"Linha 5 - PROTESTO de R$ "_s + typed
                                                                   : u"Linha %1 - nada consta"_s.arg(i)});
    }
    return rows;
}

// The rows painted and encoded as a capture is; row 6 black on white when asked, the
// text against the right edge when asked, the text layer when asked.
QByteArray report(const QList<Row> &rows, bool withText, bool onWhite = false, bool atRight = false)
{
    QImage picture(Width, RowHeight * int(rows.size()), QImage::Format_RGB32);
    QPainter painter(&picture);
    QFont font(u"sans-serif"_s);
    font.setPixelSize(12);
    painter.setFont(font);
    ReportText text;
    for (int i = 0; i < rows.size(); ++i) {
        const bool white = onWhite && i == 6;
        painter.fillRect(0, i * RowHeight, Width, RowHeight, white ? QColor(Qt::white) : rows[i].first);
        painter.setPen(white ? Qt::black : Qt::white);
        const int width = painter.fontMetrics().horizontalAdvance(rows[i].second);
        const QRect line(atRight ? Width - 8 - width : Indent, i * RowHeight + 6, width, 16);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, rows[i].second);
        text.append({line.top(), line.height(), line.left(), line.width(), rows[i].second});
    }
    painter.end();
    return Jpeg::encode(picture, 30, withText ? text : ReportText());
}

} // namespace

// The comparisons by text and by picture, and the change count, on real JPEG reports.
class ReportComparisonTest : public QObject
{
    Q_OBJECT

private slots:
    void compares_data();
    void compares();
};

void ReportComparisonTest::compares_data()
{
    QTest::addColumn<QByteArray>("older");
    QTest::addColumn<QByteArray>("newer");
    QTest::addColumn<bool>("byPicture");
    QTest::addColumn<QList<int>>("at"); // each change's place: a row's top, or a removal's line
    QTest::addColumn<int>("count");     // the change count; -1: "sem texto para comparar"
    const QByteArray older = report(revision(1), true);
    const QByteArray newer = report(revision(2), true);
    QTest::newRow("by text") << older << newer << false << QList<int>{300, 600, 1300} << 3;
    QTest::newRow("by picture, one report with text")
        << report(revision(1), false) << newer << true << QList<int>{300, 600, 1300} << -1;
    QTest::newRow("by picture, the other with text")
        << older << report(revision(2), false) << true << QList<int>{300, 600, 1300} << -1;
    // One digit of row 6 changed, on a coloured row, on a white one and against the right edge.
    const QString amount = u"7.234,56 em 05/11/2026"_s;
    const QString year = u"1.234,56 em 05/11/2025"_s;
    for (const bool onWhite : {false, true}) {
        const char *row = onWhite ? "white" : "coloured";
        const QByteArray typed = report(revision(2), false, onWhite);
        QTest::addRow("amount on a %s row", row)
            << typed << report(revision(2, amount), false, onWhite) << true << QList<int>{600} << -1;
        QTest::addRow("year on a %s row", row)
            << typed << report(revision(2, year), false, onWhite) << true << QList<int>{600} << -1;
        QTest::addRow("%s row encoded anew", row)
            << typed << Jpeg::encode(Jpeg::decode(typed), 30) << true << QList<int>() << -1;
    }
    QTest::newRow("amount near the right edge")
        << report(revision(2), false, true, true) << report(revision(2, amount), false, true, true) << true
        << QList<int>{600} << -1;
    const QImage painted = Jpeg::decode(report(revision(2), false));
    QTest::newRow("captured twice") << Jpeg::encode(painted, 30) << Jpeg::encode(painted, 60) << true << QList<int>()
                                    << -1;
}

void ReportComparisonTest::compares()
{
    QFETCH(QByteArray, older);
    QFETCH(QByteArray, newer);
    QFETCH(bool, byPicture);
    QFETCH(QList<int>, at);
    QFETCH(int, count);
    const Comparison comparison = ReportComparison::compare(older, newer);
    QCOMPARE(comparison.byPicture, byPicture);
    QCOMPARE(comparison.changes.size(), at.size());
    for (int i = 0; i < at.size(); ++i) {
        const ReportChange &change = comparison.changes[i];
        QCOMPARE(change.kind == ReportChange::Removed, i == 2);
        // A change lies on its row's text line; a removal is a thin line where the older rows were.
        const QRect area = change.area;
        const bool placed = change.kind == ReportChange::Removed ? qAbs(area.center().y() - at[i]) <= 6
                            : at.size() == 1
                                ? area.top() <= at[i] + 18 && area.bottom() >= at[i] + 10 && area.height() <= 40
                                : area.top() >= at[i] - 6 && area.bottom() < at[i] + 106;
        QVERIFY2(placed, qPrintable(u"%1: %2..%3"_s.arg(i).arg(area.top()).arg(area.bottom())));
    }
    const std::optional<int> counted = textChangeCount(older, newer);
    QCOMPARE(counted.value_or(-1), count);
}

QTEST_MAIN(ReportComparisonTest)
#include "tst_reportcomparison.moc"
