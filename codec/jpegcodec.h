#pragma once

#include <QByteArray>
#include <QImage>
#include <QtGlobal>

#include <memory>

class QIODevice;

// JPEG encoding and decoding over libjpeg (jpeglib.h). Every codec failure is
// thrown as AppError with the text "JPEG error #<n>", n being libjpeg's own
// message code; libjpeg's default error exit never runs.
namespace Jpeg {

// The largest width or height libjpeg writes or reads.
constexpr int MaxDimension = 65500;

enum class ColorSpace { Unknown, Grayscale, RGB, YCbCr, CMYK, YCCK };

struct Header
{
    int width = 0;
    int height = 0;
    int components = 0;
    ColorSpace colorSpace = ColorSpace::Unknown;
    bool progressive = false;
};

// Streams one image into a device band by band, so that a very tall picture
// need not be held twice: rows go in top to bottom, in the row format given at
// construction. libjpeg reads 24-bit RGB and the 32-bit formats (RGB32, ARGB32,
// ARGB32_Premultiplied, RGBX8888, RGBA8888) in place; alpha is ignored.
class Encoder
{
public:
    Encoder(QIODevice *out, int width, int height, int quality, QImage::Format rowFormat = QImage::Format_RGB888);
    ~Encoder(); // abandons an unfinished stream
    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;

    // rows points at rowCount rows in the row format, bytesPerLine apart.
    void writeRows(const uchar *rows, int rowCount, qsizetype bytesPerLine);
    // Any QImage format: read in place when libjpeg takes it as the row
    // format does, else converted a band of rows at a time.
    void writeImageRows(const QImage &image, int firstRow, int rowCount);
    void finish(); // throws if not every row was written

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Baseline, colour, non-progressive stream at the given quality; a 32-bit or
// RGB888 image is read in place, with no converted copy.
void encode(const QImage &image, int quality, QIODevice *out);
QByteArray encode(const QImage &image, int quality);

Header readHeader(const QByteArray &data);
// Decoded pixels as QImage::Format_RGB888 or, 4 bytes a pixel and painted
// without conversion, QImage::Format_RGB32 (greyscale sources come out grey).
// A stream counts as whole when every row's data is in it (a missing end
// marker is tolerated); any stream that would make libjpeg invent pixels, or
// whose header claims more than its data can fill, fails.
QImage decode(const QByteArray &data, QImage::Format format = QImage::Format_RGB888);
// Decodes the stream row by row without keeping the picture; throws as decode().
void verify(const QByteArray &data);

} // namespace Jpeg
