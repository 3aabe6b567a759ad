// Past the usual length on purpose: one subject, the codec's contract on real bytes.
#include "apperror.h"
#include "jpegcodec.h"
#include "jpegsegments.h"

#include <QBuffer>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <functional>

#include <jpeglib.h> // jerror.h's message codes
#include <jerror.h>

using namespace Qt::StringLiterals;

namespace {

// Fails every write once more than `limit` bytes would have been written.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit) : limit(limit) { open(QIODevice::WriteOnly); }
    const qint64 limit;
    qint64 written = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        if (written + len > limit) {
            setErrorString(u"dispositivo cheio"_s);
            return -1;
        }
        return written += len, len;
    }
};

QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB888);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y)
        std::generate_n(image.scanLine(y), width * 3, [&] { return uchar(random.generate()); });
    return image;
}

QString errorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AppError &e) {
        return e.message();
    }
    return QString();
}

// Each channel within tolerance of the wanted colour; the colours named when not.
QByteArray farFrom(const QColor &got, const QColor &want, int tolerance)
{
    const bool near = qAbs(got.red() - want.red()) <= tolerance && qAbs(got.green() - want.green()) <= tolerance
                      && qAbs(got.blue() - want.blue()) <= tolerance;
    return near ? QByteArray() : (got.name() + u" instead of "_s + want.name()).toUtf8();
}

const auto codecError = [](int code) { return u"JPEG error #%1"_s.arg(code); };

QImage grey180()
{
    QImage grey(24, 18, QImage::Format_Grayscale8);
    grey.fill(180);
    return grey;
}

// A one-component stream from Qt's own writer, for inputs the encoder never produces.
QByteArray greyStream(bool progressive)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    writer.write(grey180());
    return buffer.data();
}
} // namespace

class TestJpegCodec : public QObject
{
    Q_OBJECT

private slots:
    void roundTripKeepsSizeAndBands_data();
    void roundTripKeepsSizeAndBands();
    void streamIsBaselineColour();
    void everyRowLayoutGivesSameBytes();
    void badStreamsFail_data();
    void badStreamsFail();
    void encodingFails_data();
    void encodingFails();
    void wholeStreamsDecode_data();
    void wholeStreamsDecode();
};

void TestJpegCodec::roundTripKeepsSizeAndBands_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QImage::Format>("decodedFormat");
    const auto rgb32 = QImage::Format_RGB32;
    const auto rgb888 = QImage::Format_RGB888;
    QTest::newRow("1x1") << QSize(1, 1) << rgb32 << rgb888;
    QTest::newRow("17x9 odd") << QSize(17, 9) << rgb32 << rgb888;
    QTest::newRow("16x16 one MCU") << QSize(16, 16) << rgb32 << rgb888;
    QTest::newRow("800x3000 tall") << QSize(800, 3000) << rgb32 << rgb888;
    QTest::newRow("2048 rows") << QSize(48, 2048) << rgb32 << rgb888;
    QTest::newRow("odd width, 5001 rows") << QSize(37, 5001) << rgb32 << rgb888;
    QTest::newRow("65500 rows") << QSize(16, 65500) << rgb32 << rgb888;
    QTest::newRow("RGB32") << QSize(128, 32) << rgb32 << rgb888;
    QTest::newRow("ARGB32") << QSize(128, 32) << QImage::Format_ARGB32 << rgb888;
    QTest::newRow("RGB888") << QSize(128, 32) << rgb888 << rgb888;
    QTest::newRow("RGBA8888") << QSize(128, 32) << QImage::Format_RGBA8888 << rgb888;
    QTest::newRow("RGB32, decoded to RGB32") << QSize(128, 32) << rgb32 << rgb32;
}

// A tall picture is encoded in parts; every band of rows, and the last pixel, must come back in its own colour,
// from this decoder (which fails on any stream fault) and Qt's; every input layout is read alike.
void TestJpegCodec::roundTripKeepsSizeAndBands()
{
    QFETCH(QSize, size);
    QFETCH(QImage::Format, format);
    QFETCH(QImage::Format, decodedFormat);
    const QList<QColor> colours{QColor(220, 20, 30),  QColor(20, 200, 40), QColor(10, 30, 230),
                                QColor(240, 240, 40), QColor(20, 20, 20),  QColor(128, 64, 200)};
    constexpr int Band = 16;
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), size.width(), colours[(y / Band) % 6].rgb());
    const QByteArray jpeg = Jpeg::encode(image.convertToFormat(format), 30);
    const QImage ours = Jpeg::decode(jpeg, decodedFormat);
    const QImage qts = QImage::fromData(jpeg, "JPEG");
    QCOMPARE(ours.format(), decodedFormat);
    QCOMPARE(ours.size(), size);
    QCOMPARE(qts.size(), size);
    QCOMPARE(qAlpha(ours.pixel(0, 0)), 255);
    QList<QPoint> points{{size.width() - 1, size.height() - 1}};
    for (int y = Band / 2; y < size.height(); y += Band)
        points.append({size.width() / 2, y});
    for (const QPoint p : points) {
        for (const QImage &decoded : {ours, qts})
            QVERIFY2(farFrom(decoded.pixelColor(p), colours[(p.y() / Band) % 6], 24).isEmpty(),
                     qPrintable(u"row %1"_s.arg(p.y())));
    }
}

// Grey input is converted a band at a time and still written as a three-component baseline frame, its
// luminance table IJG's standard one scaled to 5000 / 30 %, in zigzag order.
void TestJpegCodec::streamIsBaselineColour()
{
    static const uchar scaled[64]
        = {27,  18,  20,  23,  20,  17,  27,  23,  22,  23,  30,  28,  27,  32,  40,  66,  43,  40,  37,  37,  40, 81,
           58,  61,  48,  66,  96,  85,  101, 100, 95,  85,  93,  91,  106, 120, 153, 129, 106, 113, 144, 115, 91, 93,
           133, 181, 134, 144, 158, 163, 171, 173, 171, 103, 128, 188, 201, 186, 166, 199, 153, 168, 171, 164};
    QImage image(40, 24, QImage::Format_Grayscale8);
    image.fill(100);
    const QByteArray jpeg = Jpeg::encode(image, 30);
    QVERIFY(jpeg.startsWith("\xFF\xD8") && jpeg.endsWith("\xFF\xD9"));
    QList<int> frames;
    for (const auto &[marker, payload] : jpegSegments(jpeg)) {
        if (marker >= 0xFFC0 && marker <= 0xFFCF && marker != 0xFFC4 && marker != 0xFFC8 && marker != 0xFFCC)
            frames.append(marker);
    }
    QCOMPARE(frames, QList<int>{0xFFC0});
    QCOMPARE(jpegSegments(jpeg, 0xFFC0).first().at(5), 3); // components
    QCOMPARE(jpegSegments(jpeg).last().first, 0xFFDA);
    QCOMPARE(farFrom(Jpeg::decode(jpeg).pixelColor(20, 12), QColor(100, 100, 100), 4), "");
    QByteArray luminance;
    for (const QByteArray &tables : jpegSegments(jpeg, 0xFFDB)) {
        for (int pos = 0; pos < tables.size(); pos += 65) {
            QCOMPARE(uchar(tables[pos]) >> 4, 0); // 8-bit entries
            if ((uchar(tables[pos]) & 0x0F) == 0)
                luminance = tables.mid(pos + 1, 64);
        }
    }
    QCOMPARE(luminance, QByteArray(reinterpret_cast<const char *>(scaled), 64));
}

void TestJpegCodec::everyRowLayoutGivesSameBytes()
{
    // 32-bit and 24-bit rows are read in place, BGR888 rows converted in bands of rows.
    const QImage image = noise(37, 600, 11);
    const QByteArray inPlace = Jpeg::encode(image, 75);
    QCOMPARE(Jpeg::encode(image.convertToFormat(QImage::Format_RGB32), 75), inPlace);
    QCOMPARE(Jpeg::encode(image.convertToFormat(QImage::Format_BGR888), 75), inPlace);
}

void TestJpegCodec::badStreamsFail_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("code"); // -1: any libjpeg code
    const QByteArray jpeg = Jpeg::encode(noise(64, 64, 9), 90);
    const auto parts = jpegSegments(jpeg);
    const qsizetype scanStart = jpeg.indexOf(parts.last().second) + parts.last().second.size();
    const QByteArray halfScan = jpeg.left((scanStart + jpeg.size()) / 2);
    QByteArray garbage(300, Qt::Uninitialized);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);

    QTest::newRow("empty") << QByteArray() << int(JERR_INPUT_EMPTY);
    QTest::newRow("text") << QByteArray("this is not a picture") << int(JERR_NO_SOI);
    QTest::newRow("random bytes") << garbage << -1;
    QTest::newRow("SOI then garbage") << QByteArray("\xFF\xD8") + garbage << -1;
    QTest::newRow("SOI only") << jpeg.left(2) << int(JWRN_JPEG_EOF);
    QTest::newRow("mid header") << jpeg.left(25) << int(JWRN_JPEG_EOF);
    QTest::newRow("header only") << jpeg.left(scanStart) << int(JWRN_JPEG_EOF);
    QTest::newRow("mid scan") << halfScan << int(JWRN_JPEG_EOF);
    QTest::newRow("half a scan, then the end marker") << halfScan + QByteArray("\xFF\xD9", 2) << int(JWRN_HIT_MARKER);
    QTest::newRow("PNG") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) << int(JERR_NO_SOI);
    // SOF0 (marker, length, precision, height, width) claiming 14,000 x 14,000: refused before ~570 MB are allocated.
    QByteArray forged = Jpeg::encode(grey180(), 30);
    forged.replace(forged.indexOf(QByteArray("\xFF\xC0", 2)) + 5, 4, QByteArray("\x36\xB0\x36\xB0", 4));
    QTest::newRow("forged huge header") << forged << int(JWRN_JPEG_EOF);
    for (const bool progressive : {false, true}) {
        const QByteArray stream = greyStream(progressive);
        QCOMPARE(jpegSegments(stream, progressive ? 0xFFC2 : 0xFFC0).value(0).mid(5, 1), "\x01"); // components
        const char *kind = progressive ? "progressive" : "baseline";
        QTest::addRow("%s greyscale, cut short", kind) << stream.left(stream.size() * 2 / 3) << int(JWRN_JPEG_EOF);
        QTest::addRow("%s greyscale, its last scan cut", kind) << stream.chopped(12) << int(JWRN_JPEG_EOF);
    }
}

void TestJpegCodec::badStreamsFail()
{
    QFETCH(QByteArray, data);
    QFETCH(int, code);
    const QString message = errorOf([&] { Jpeg::decode(data); });
    QVERIFY2(QRegularExpression(u"^JPEG error #\\d+$"_s).match(message).hasMatch(), qPrintable(message));
    if (code >= 0)
        QCOMPARE(message, codecError(code));
    // The check before a store, which makes no full-size rows, refuses it alike.
    QCOMPARE(errorOf([&] { Jpeg::verify(data); }), message);
}

void TestJpegCodec::encodingFails_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("limit"); // of the device's bytes
    QTest::addColumn<QString>("message");
    const QString full = u"Erro ao gravar imagem JPEG: dispositivo cheio"_s;
    QTest::newRow("empty") << QSize() << qint64(0) << u"Imagem vazia (0x0): não há o que gravar em JPEG"_s;
    QTest::newRow("too wide") << QSize(65501, 1) << qint64(0) << codecError(JERR_IMAGE_TOO_BIG);
    QTest::newRow("too tall") << QSize(1, 70000) << qint64(0) << codecError(JERR_IMAGE_TOO_BIG);
    QTest::newRow("device full at first flush") << QSize(512, 512) << qint64(0) << full;
    QTest::newRow("device full at finish") << QSize(16, 16) << qint64(100) << full;
    QTest::newRow("device full at third flush") << QSize(512, 512) << qint64(150'000) << full;
}

void TestJpegCodec::encodingFails()
{
    QFETCH(QSize, size);
    QFETCH(qint64, limit);
    QFETCH(QString, message);
    const QImage image = noise(size.width(), size.height(), 13);
    FailingDevice device(limit);
    QCOMPARE(errorOf([&] { Jpeg::encode(image, 95, &device); }), message);
    QVERIFY(device.written <= limit);
    QCOMPARE(device.written % (64 * 1024), 0); // only whole buffers reach the device before the failure
}

void TestJpegCodec::wholeStreamsDecode_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QImage>("expected"); // exactly, or grey 180 within 2
    QTest::newRow("baseline greyscale") << greyStream(false) << QImage();
    QTest::newRow("progressive greyscale") << greyStream(true) << QImage();
    const QByteArray jpeg = Jpeg::encode(noise(64, 48, 3), 90);
    QVERIFY(jpeg.endsWith(QByteArray("\xFF\xD9", 2)));
    QTest::newRow("no end marker") << jpeg.chopped(2) << Jpeg::decode(jpeg);
}

void TestJpegCodec::wholeStreamsDecode()
{
    QFETCH(QByteArray, data);
    QFETCH(QImage, expected);
    const QImage decoded = Jpeg::decode(data);
    Jpeg::verify(data);
    QCOMPARE(decoded.format(), QImage::Format_RGB888);
    if (!expected.isNull()) {
        QCOMPARE(decoded, expected);
        return;
    }
    QCOMPARE(decoded.size(), grey180().size());
    const QColor got = decoded.pixelColor(12, 9);
    QVERIFY2(got.red() == got.green() && got.green() == got.blue() && qAbs(got.red() - 180) <= 2,
             qPrintable(got.name()));
}

QTEST_GUILESS_MAIN(TestJpegCodec)
#include "tst_jpegcodec.moc"
