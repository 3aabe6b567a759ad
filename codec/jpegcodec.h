#pragma once

#include "reportline.h"

#include <QByteArray>
#include <QImage>
#include <QtGlobal>

class QIODevice;

// JPEG encoding and decoding over libjpeg (jpeglib.h). Every codec failure is
// thrown as AppError with the text "JPEG error #<n>", n being libjpeg's own
// message code; libjpeg's default error exit never runs.
namespace Jpeg {

// The largest width or height libjpeg writes or reads.
constexpr int MaxDimension = 65500;

// Baseline, colour, non-progressive stream at the given quality. The 32-bit
// formats (RGB32, ARGB32, ARGB32_Premultiplied, RGBX8888, RGBA8888) and RGB888
// are read in place, with no converted copy; alpha is ignored. Any other format
// is converted a band of rows at a time.
// With text, the report's lines go in as its text layer (textlayer.h), in the
// same pass.
void encode(const QImage &image, int quality, QIODevice *out, const ReportText &text = {});
QByteArray encode(const QImage &image, int quality, const ReportText &text = {});

// Decoded pixels as QImage::Format_RGB888 or, 4 bytes a pixel and painted
// without conversion, QImage::Format_RGB32 (greyscale sources come out grey).
// A stream counts as whole when every row's data is in it (a missing end
// marker is tolerated); any stream that would make libjpeg invent pixels, or
// whose header claims more than its data can fill, fails.
QImage decode(const QByteArray &data, QImage::Format format = QImage::Format_RGB888);
// Decodes the stream row by row without keeping the picture; throws as decode().
void verify(const QByteArray &data);

} // namespace Jpeg
