#include "jpegcodec.h"
#include "apperror.h"
#include "jpegsegments.h"
#include "textlayer.h"

#include <QTest>

using namespace Qt::StringLiterals;

// The text layer through real encoded bytes: what goes in comes out, and the picture stays the same stream.
class TestTextLayer : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void refusedStreams_data();
    void refusedStreams();
};

void TestTextLayer::roundTrip_data()
{
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("segments");
    QTest::newRow("no text") << 0 << 0;
    QTest::newRow("one segment") << 3 << 1;
    // Some 84 bytes a line: 2,000 lines need three 64 KB segments.
    QTest::newRow("several segments") << 2000 << 3;
}

void TestTextLayer::roundTrip()
{
    QFETCH(int, lineCount);
    QFETCH(int, segments);
    QImage image(320, 200, QImage::Format_RGB888);
    image.fill(QColor(200, 30, 90));
    const QByteArray plain = Jpeg::encode(image, 30);
    ReportText lines;
    for (int i = 0; i < lineCount; ++i)
        lines.append({i * 20, 16, 40, 300, u"Linha %1: crédito, PROTESTO\tação São João — ✓ "_s.arg(i)});

    // A foreign comment stays; a second layer replaces the first.
    QByteArray foreign = plain;
    foreign.insert(20, QByteArray("\xFF\xFE\x00\x07outro", 9));
    const QByteArray layered = Jpeg::withTextLayer(Jpeg::withTextLayer(foreign, {{1, 2, 3, 4, "velho"}}), lines);

    ReportText expected = lines;
    for (ReportLine &line : expected)
        line.text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    QCOMPARE(Jpeg::textLayer(layered), expected);
    // Written by the encoder in the same pass: the same layer, after JFIF, the picture the same.
    const QByteArray encoded = Jpeg::encode(image, 30, lines);
    QCOMPARE(Jpeg::textLayer(encoded), expected);
    QCOMPARE(jpegSegments(encoded).first().first, 0xFFE0);
    QCOMPARE(Jpeg::decode(encoded), Jpeg::decode(plain));
    QCOMPARE(jpegSegments(layered, 0xFFFE).size(), segments + 1);
    QVERIFY(jpegSegments(layered, 0xFFFE).contains("outro"));
    QCOMPARE(jpegSegments(layered).first().first, 0xFFE0);
    QCOMPARE(jpegSegments(layered, 0xFFC0), jpegSegments(plain, 0xFFC0));
    QVERIFY(layered.endsWith(plain.mid(plain.indexOf("\xFF\xDA"))));
    QCOMPARE(Jpeg::decode(layered), Jpeg::decode(plain));
    QCOMPARE(Jpeg::textLayer(plain), ReportText());
}

void TestTextLayer::refusedStreams_data()
{
    QTest::addColumn<int>("kept"); // bytes kept of a real stream
    QTest::addColumn<QString>("message");
    QTest::newRow("not a JPEG") << 1 << "os dados não são uma imagem JPEG";
    QTest::newRow("APP0 cut short") << 12 << "o cabeçalho da imagem JPEG está incompleto";
}

void TestTextLayer::refusedStreams()
{
    QFETCH(int, kept);
    QFETCH(QString, message);
    QImage image(16, 16, QImage::Format_RGB888);
    image.fill(Qt::white);
    const QByteArray cut = Jpeg::encode(image, 30).first(kept);
    try {
        Jpeg::withTextLayer(cut, {{1, 2, 3, 4, "texto"}});
        QFAIL("accepted");
    } catch (const AppError &error) {
        QCOMPARE(error.message(), u"Erro ao gravar o texto na imagem JPEG: "_s + message);
    }
}

QTEST_GUILESS_MAIN(TestTextLayer)
#include "tst_textlayer.moc"
