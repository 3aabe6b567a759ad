#include "browserfixture.h"
#include "jpegcodec.h"
#include "pagecapture.h"
#include "samplesite.h"
#include "textlayer.h"

#include <QFile>
#include <QTemporaryDir>

// The page's visible text read at the capture and carried by the capture file, in the real engine.
class TestPageText : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(site.listen()); }
    void capturedText_data();
    void capturedText();

private:
    SampleSite site;
};

void TestPageText::capturedText_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("texts");
    const QString line = QStringLiteral("<p style=\"margin:0;font:12px/16px sans-serif\">%1</p>");
    QTest::newRow("lines in order, pieces joined")
        << line.arg(QStringLiteral("Relatório de <b>crédito</b>: PROTESTO")) + line.arg(QStringLiteral("a<i>b</i> c"))
        << QStringList{QStringLiteral("Relatório de crédito: PROTESTO"), QStringLiteral("ab c")};
    QTest::newRow("wrapped words go to their lines")
        << QStringLiteral("<p style=\"width:1px;margin:0;font:12px/16px sans-serif\">um dois\ntrês</p>")
        << QStringList{QStringLiteral("um"), QStringLiteral("dois"), QStringLiteral("três")};
    QTest::newRow("hidden text left out")
        << line.arg(QStringLiteral("visto <span style=\"visibility:hidden\">oculto</span>"))
               + QStringLiteral("<p style=\"display:none\">nada</p><script>let x = 'código';</script>")
        << QStringList{QStringLiteral("visto")};
    QTest::newRow("no text, no layer") << QStringLiteral("<div style=\"height:300px;background:red\"></div>")
                                       << QStringList();
}

void TestPageText::capturedText()
{
    QFETCH(QString, body);
    QFETCH(QStringList, texts);
    const QString placed = QStringLiteral("<p style=\"position:absolute;top:1306px;left:40px;margin:0;"
                                          "font:12px/16px sans-serif\">Linha 13 - nada consta</p>");
    site.setPage(QStringLiteral("/texto"), ("<!DOCTYPE html><html><body style=\"margin:0\">" + body
                                            + (texts.isEmpty() ? QString() : placed) + "</body></html>")
                                               .toUtf8());
    BrowserFixture browser;
    QVERIFY(browser.load(site.url(QStringLiteral("/texto"))));
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("captura"));
    PageCapture(browser.view).captureTo(file);

    QFile captured(file);
    QVERIFY(captured.open(QIODevice::ReadOnly));
    const QByteArray bytes = captured.readAll();
    const QImage picture = Jpeg::decode(bytes);
    const ReportText lines = Jpeg::textLayer(bytes);
    QStringList got;
    for (const ReportLine &line : lines)
        got.append(line.text);
    if (texts.isEmpty()) {
        QCOMPARE(got, texts);
        QVERIFY(!picture.isNull());
        return;
    }
    QCOMPARE(got, texts << QStringLiteral("Linha 13 - nada consta"));
    // Where the picture has it: the line's box around its 16 px line, from its left edge.
    const ReportLine &last = lines.last();
    QVERIFY2(qAbs(last.top - 1306) <= 3 && last.height >= 10 && last.height <= 18 && last.left == 40,
             qPrintable(QStringLiteral("%1 %2 %3").arg(last.top).arg(last.height).arg(last.left)));
    QVERIFY(last.left + last.width < picture.width() && last.top + last.height < picture.height());
}

BROWSER_TEST_MAIN(TestPageText)
#include "tst_pagetext.moc"
