// Past the usual length on purpose: one subject, the codec's contract on real bytes.
#include "apperror.h"
#include "jpegcodec.h"
#include "jpegsegments.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// Fails every write once more than `limit` bytes would have been written.
class FailingDevice : public QIODevice
{
public:
    explicit FailingDevice(qint64 limit) : m_limit(limit) { open(QIODevice::WriteOnly); }
    qint64 written = 0;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        if (written + len > m_limit) {
            setErrorString(QStringLiteral("dispositivo cheio"));
            return -1;
        }
        written += len;
        return len;
    }

private:
    qint64 m_limit;
};

QImage noise(int width, int height, quint32 seed)
{
    QImage image(width, height, QImage::Format_RGB888);
    QRandomGenerator random(seed);
    for (int y = 0; y < height; ++y) {
        uchar *line = image.scanLine(y);
        for (int i = 0; i < width * 3; ++i)
            line[i] = uchar(random.generate());
    }
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
    return near ? QByteArray() : (got.name() + QStringLiteral(" instead of ") + want.name()).toUtf8();
}

QString codecError(int code)
{
    return QStringLiteral("JPEG error #%1").arg(code);
}

// The number of colour components the stream's first frame header declares; 0 without one.
int componentsOf(const QByteArray &jpeg)
{
    for (const auto &[marker, payload] : jpegSegments(jpeg)) {
        // SOFn: precision (1), height (2), width (2), components (1).
        if (marker >= 0xFFC0 && marker <= 0xFFCF && marker != 0xFFC4 && marker != 0xFFC8 && marker != 0xFFCC)
            return payload.size() > 5 ? uchar(payload[5]) : 0;
    }
    return 0;
}

// A stream written straight through libjpeg, for inputs the encoder never produces.
QByteArray libjpegStream(const QImage &grey, bool progressive)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = grey.width();
    cinfo.image_height = grey.height();
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&cinfo);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < grey.height(); ++y) {
        JSAMPROW row = const_cast<JSAMPROW>(grey.constScanLine(y));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    const QByteArray data(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return data;
}

} // namespace

class TestJpegCodec : public QObject
{
    Q_OBJECT

private slots:
    void roundTripKeepsSize_data();
    void roundTripKeepsSize();
    void roundTripKeepsColours_data();
    void roundTripKeepsColours();
    void greyInputStaysColour();
    void streamIsBaseline();
    void tallPictureDecodesWhole_data();
    void tallPictureDecodesWhole();
    void quality30UsesScaledStandardTable();
    void everyRowLayoutGivesSameBytes();
    void picturesThatCannotBeEncoded_data();
    void picturesThatCannotBeEncoded();
    void badStreamsFail_data();
    void badStreamsFail();
    void deviceFailureIsReported_data();
    void deviceFailureIsReported();
    void greyscaleAndProgressiveSources();
    void missingEndMarkerStillDecodesWhole();
};

void TestJpegCodec::roundTripKeepsSize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("1x1") << QSize(1, 1);
    QTest::newRow("17x9 odd") << QSize(17, 9);
    QTest::newRow("16x16 one MCU") << QSize(16, 16);
    QTest::newRow("800x3000 tall") << QSize(800, 3000);
}

void TestJpegCodec::roundTripKeepsSize()
{
    QFETCH(QSize, size);
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(30, 140, 220));
    const QImage decoded = Jpeg::decode(Jpeg::encode(image, 85));
    QCOMPARE(decoded.size(), size);
    QCOMPARE(decoded.format(), QImage::Format_RGB888);
    QCOMPARE(farFrom(decoded.pixelColor(size.width() - 1, size.height() - 1), QColor(30, 140, 220), 8), "");
}

void TestJpegCodec::roundTripKeepsColours_data()
{
    QTest::addColumn<QImage::Format>("format");
    QTest::addColumn<QImage::Format>("decodedFormat");
    QTest::newRow("RGB32") << QImage::Format_RGB32 << QImage::Format_RGB888;
    QTest::newRow("ARGB32") << QImage::Format_ARGB32 << QImage::Format_RGB888;
    QTest::newRow("RGB888") << QImage::Format_RGB888 << QImage::Format_RGB888;
    QTest::newRow("RGBA8888") << QImage::Format_RGBA8888 << QImage::Format_RGB888;
    QTest::newRow("RGB32, decoded to RGB32") << QImage::Format_RGB32 << QImage::Format_RGB32;
}

void TestJpegCodec::roundTripKeepsColours()
{
    QFETCH(QImage::Format, format);
    QFETCH(QImage::Format, decodedFormat);
    const QList<QColor> colours{QColor(220, 20, 30), QColor(20, 200, 40), QColor(10, 30, 230), QColor(128, 64, 200)};
    QImage image(128, 32, format);
    for (int i = 0; i < colours.size(); ++i)
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                image.setPixelColor(i * 32 + x, y, colours[i]);

    const QImage decoded = Jpeg::decode(Jpeg::encode(image, 90), decodedFormat);
    QCOMPARE(decoded.format(), decodedFormat);
    QCOMPARE(qAlpha(decoded.pixel(0, 0)), 255);
    for (int i = 0; i < colours.size(); ++i) {
        for (const QPoint p : {QPoint(i * 32 + 16, 16), QPoint(i * 32 + 4, 4), QPoint(i * 32 + 27, 27)})
            QCOMPARE(farFrom(decoded.pixelColor(p), colours[i], 8), "");
    }
}

void TestJpegCodec::greyInputStaysColour()
{
    QImage image(40, 24, QImage::Format_Grayscale8);
    image.fill(100);
    const QByteArray jpeg = Jpeg::encode(image, 80);
    QCOMPARE(componentsOf(jpeg), 3);
    QCOMPARE(farFrom(Jpeg::decode(jpeg).pixelColor(20, 12), QColor(100, 100, 100), 4), "");
}

void TestJpegCodec::streamIsBaseline()
{
    const QByteArray jpeg = Jpeg::encode(noise(64, 48, 7), 100);
    QVERIFY(jpeg.startsWith("\xFF\xD8"));
    QVERIFY(jpeg.endsWith("\xFF\xD9"));
    QList<int> markers;
    for (const auto &segment : jpegSegments(jpeg))
        markers.append(segment.first);
    QVERIFY2(markers.contains(0xFFC0), "no SOF0 frame");
    QVERIFY(!markers.contains(0xFFC1));
    QVERIFY(!markers.contains(0xFFC2));
    QCOMPARE(markers.last(), 0xFFDA);
}

void TestJpegCodec::tallPictureDecodesWhole_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("2048 rows") << QSize(48, 2048);
    QTest::newRow("odd width, 5001 rows") << QSize(37, 5001);
    QTest::newRow("65500 rows") << QSize(16, 65500);
}

// A tall picture is encoded in parts; every band of rows must come back in its
// own colour, from this decoder (which fails on any stream fault) and Qt's.
void TestJpegCodec::tallPictureDecodesWhole()
{
    QFETCH(QSize, size);
    const QList<QColor> colours{QColor(220, 20, 30),  QColor(20, 200, 40), QColor(10, 30, 230),
                                QColor(240, 240, 40), QColor(20, 20, 20),  QColor(250, 250, 250)};
    constexpr int Band = 16;
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), size.width(), colours[(y / Band) % 6].rgb());
    const QByteArray jpeg = Jpeg::encode(image, 30);
    const QImage ours = Jpeg::decode(jpeg);
    QCOMPARE(ours.size(), size);
    const QImage qts = QImage::fromData(jpeg, "JPEG");
    QCOMPARE(qts.size(), size);
    for (int y = Band / 2; y < size.height(); y += Band) {
        for (const QImage &decoded : {ours, qts})
            QVERIFY2(farFrom(decoded.pixelColor(size.width() / 2, y), colours[(y / Band) % 6], 24).isEmpty(),
                     qPrintable(QStringLiteral("row %1").arg(y)));
    }
}

void TestJpegCodec::quality30UsesScaledStandardTable()
{
    static const int standard[64]
        = {16, 11,  10,  16, 24, 40, 51, 61, 12,  12,  14,  19,  26, 58, 60, 55,  14,  13,  16,  24, 40, 57,
           69, 56,  14,  17, 22, 29, 51, 87, 80,  62,  18,  22,  37, 56, 68, 109, 103, 77,  24,  35, 55, 64,
           81, 104, 113, 92, 49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98,  112, 100, 103, 99};
    static const int zigzag[64]
        = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
           41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
           30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
    const int scale = 5000 / 30;

    QByteArray luminance;
    for (const auto &[marker, payload] : jpegSegments(Jpeg::encode(noise(32, 32, 3), 30))) {
        for (int pos = 0; marker == 0xFFDB && pos < payload.size(); pos += 65) {
            QCOMPARE(uchar(payload[pos]) >> 4, 0); // 8-bit entries
            if ((uchar(payload[pos]) & 0x0F) == 0)
                luminance = payload.mid(pos + 1, 64);
        }
    }
    QCOMPARE(luminance.size(), 64);
    for (int k = 0; k < 64; ++k) {
        const int expected = qBound(1, (standard[zigzag[k]] * scale + 50) / 100, 255);
        QVERIFY2(
            uchar(luminance[k]) == expected,
            qPrintable(QStringLiteral("entry %1: %2 instead of %3").arg(k).arg(uchar(luminance[k])).arg(expected)));
    }
}

void TestJpegCodec::everyRowLayoutGivesSameBytes()
{
    // 32-bit and 24-bit rows are read in place, BGR888 rows converted in bands of rows.
    const QImage image = noise(37, 600, 11);
    const QByteArray inPlace = Jpeg::encode(image, 75);
    QCOMPARE(Jpeg::encode(image.convertToFormat(QImage::Format_RGB32), 75), inPlace);
    QCOMPARE(Jpeg::encode(image.convertToFormat(QImage::Format_BGR888), 75), inPlace);
}

void TestJpegCodec::picturesThatCannotBeEncoded_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << QSize() << QStringLiteral("Imagem vazia (0x0): não há o que gravar em JPEG");
    QTest::newRow("too wide") << QSize(65501, 1) << codecError(JERR_IMAGE_TOO_BIG);
    QTest::newRow("too tall") << QSize(1, 70000) << codecError(JERR_IMAGE_TOO_BIG);
}

void TestJpegCodec::picturesThatCannotBeEncoded()
{
    QFETCH(QSize, size);
    QFETCH(QString, message);
    QImage image(size, QImage::Format_RGB888);
    image.fill(Qt::white);
    QCOMPARE(errorOf([&] { Jpeg::encode(image, 80); }), message);
}

void TestJpegCodec::badStreamsFail_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("code"); // -1: any libjpeg code

    const QByteArray jpeg = Jpeg::encode(noise(64, 64, 9), 90);
    const auto parts = jpegSegments(jpeg);
    const qsizetype scanStart = jpeg.indexOf(parts.last().second) + parts.last().second.size();

    QByteArray garbage(300, Qt::Uninitialized);
    QRandomGenerator(42).fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);

    QTest::newRow("empty") << QByteArray() << int(JERR_INPUT_EMPTY);
    QTest::newRow("text") << QByteArray("this is not a picture") << int(JERR_NO_SOI);
    QTest::newRow("random bytes") << garbage << -1;
    QTest::newRow("SOI then garbage") << QByteArray("\xFF\xD8") + garbage << -1;
    QTest::newRow("SOI only") << jpeg.left(2) << int(JWRN_JPEG_EOF);
    QTest::newRow("mid header") << jpeg.left(25) << int(JWRN_JPEG_EOF);
    QTest::newRow("header only") << jpeg.left(scanStart) << int(JWRN_JPEG_EOF);
    QTest::newRow("mid scan") << jpeg.left((scanStart + jpeg.size()) / 2) << int(JWRN_JPEG_EOF);
    QTest::newRow("half a scan, then the end marker")
        << jpeg.left((scanStart + jpeg.size()) / 2) + QByteArray("\xFF\xD9", 2) << int(JWRN_HIT_MARKER);
    QTest::newRow("PNG") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) << int(JERR_NO_SOI);
    // SOF0 (marker, length, precision, height, width) claiming 14,000 x 14,000: refused before ~570 MB are allocated.
    QImage grey(24, 18, QImage::Format_Grayscale8);
    grey.fill(180);
    QByteArray forged = Jpeg::encode(grey, 30);
    const qsizetype sof = forged.indexOf(QByteArray("\xFF\xC0", 2));
    forged.replace(sof + 5, 4, QByteArray("\x36\xB0\x36\xB0", 4));
    QTest::newRow("forged huge header") << forged << int(JWRN_JPEG_EOF);
    for (const bool progressive : {false, true}) {
        const QByteArray stream = libjpegStream(grey, progressive);
        QTest::addRow("%s greyscale, cut short", progressive ? "progressive" : "baseline")
            << stream.left(stream.size() * 2 / 3) << int(JWRN_JPEG_EOF);
        QTest::addRow("%s greyscale, its last scan cut", progressive ? "progressive" : "baseline")
            << stream.left(stream.size() - 12) << int(JWRN_JPEG_EOF);
    }
}

void TestJpegCodec::badStreamsFail()
{
    QFETCH(QByteArray, data);
    QFETCH(int, code);
    const QString message = errorOf([&] { Jpeg::decode(data); });
    QVERIFY2(QRegularExpression(QStringLiteral("^JPEG error #\\d+$")).match(message).hasMatch(), qPrintable(message));
    if (code >= 0)
        QCOMPARE(message, codecError(code));
    // The check before a store, which makes no full-size rows, refuses it alike.
    QCOMPARE(errorOf([&] { Jpeg::verify(data); }), message);
}

void TestJpegCodec::deviceFailureIsReported_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<qint64>("limit");
    QTest::newRow("first flush") << QSize(512, 512) << qint64(0);
    QTest::newRow("at finish") << QSize(16, 16) << qint64(100);
    QTest::newRow("third flush") << QSize(512, 512) << qint64(150'000);
}

void TestJpegCodec::deviceFailureIsReported()
{
    QFETCH(QSize, size);
    QFETCH(qint64, limit);
    const QImage image = noise(size.width(), size.height(), 13);
    FailingDevice device(limit);
    QCOMPARE(errorOf([&] { Jpeg::encode(image, 95, &device); }),
             QStringLiteral("Erro ao gravar imagem JPEG: dispositivo cheio"));
    QVERIFY(device.written <= limit);
    QCOMPARE(device.written % (64 * 1024), 0); // only whole buffers reach the device before the failure
}

void TestJpegCodec::greyscaleAndProgressiveSources()
{
    QImage grey(24, 18, QImage::Format_Grayscale8);
    grey.fill(180);
    for (bool progressive : {false, true}) {
        const QByteArray jpeg = libjpegStream(grey, progressive);
        const QImage decoded = Jpeg::decode(jpeg);
        QCOMPARE(decoded.format(), QImage::Format_RGB888);
        QCOMPARE(decoded.size(), grey.size());
        const QColor got = decoded.pixelColor(12, 9);
        QVERIFY2(got.red() == got.green() && got.green() == got.blue() && qAbs(got.red() - 180) <= 2,
                 qPrintable(got.name()));
    }
}

void TestJpegCodec::missingEndMarkerStillDecodesWhole()
{
    const QImage picture = noise(64, 48, 3);
    const QByteArray jpeg = Jpeg::encode(picture, 90);
    QVERIFY(jpeg.endsWith(QByteArray("\xFF\xD9", 2)));
    QCOMPARE(Jpeg::decode(jpeg.chopped(2)), Jpeg::decode(jpeg));
    Jpeg::verify(jpeg.chopped(2));
}

QTEST_GUILESS_MAIN(TestJpegCodec)
#include "tst_jpegcodec.moc"
