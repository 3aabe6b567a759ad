#pragma once

#include <QByteArrayView>
#include <QList>

namespace Jpeg {

// One marker segment of a JPEG stream's header: its marker code's second byte
// (0xC0 for a baseline frame header, 0xDA for the scan's), where it begins (its
// 0xFF) and where its payload lies.
struct MarkerSegment
{
    uchar marker = 0;
    qsizetype start = 0;
    qsizetype payload = 0;
    qsizetype size = 0;
    qsizetype end() const { return payload + size; }
};

// The segments after SOI, in stream order, up to and including the scan's
// header. Every one lies whole within the data: the reading stops before a
// segment whose length runs past it, or at anything that is not a marker.
QList<MarkerSegment> headerSegments(QByteArrayView jpeg);

} // namespace Jpeg
