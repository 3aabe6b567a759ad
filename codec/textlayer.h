#pragma once

#include "reportline.h"

#include <QByteArray>
#include <QList>

// A report's text carried inside its JPEG stream, in comment (COM) segments
// tagged as ours, so any viewer shows the same picture and ignores the text.
namespace Jpeg {

// The lines as the payloads of the tagged comment segments that carry them,
// for the encoder to write; none for no lines.
QList<QByteArray> textSegments(const ReportText &lines);

// The stream with the lines in tagged comment segments placed after its SOI and
// APP0 (JFIF) segments; earlier tagged segments are dropped, the rest is kept byte
// for byte. Throws AppError when the bytes do not begin as a JPEG stream.
QByteArray withTextLayer(const QByteArray &jpeg, const ReportText &lines);

// The lines of the stream's tagged comment segments, in stream order; none
// when it has no text layer. Other comments and anything past the header are
// not looked at.
ReportText textLayer(const QByteArray &jpeg);

} // namespace Jpeg
