#include "markersegments.h"

namespace Jpeg {

QList<MarkerSegment> headerSegments(QByteArrayView jpeg)
{
    QList<MarkerSegment> segments;
    for (qsizetype at = 2; at + 4 <= jpeg.size() && uchar(jpeg.at(at)) == 0xFF;) {
        const uchar marker = uchar(jpeg.at(at + 1));
        // The length counts its own two bytes.
        const qsizetype length = uchar(jpeg.at(at + 2)) << 8 | uchar(jpeg.at(at + 3));
        if (length < 2 || at + 2 + length > jpeg.size())
            break;
        segments.append({marker, at, at + 4, length - 2});
        if (marker == 0xDA)
            break;
        at += 2 + length;
    }
    return segments;
}

} // namespace Jpeg
