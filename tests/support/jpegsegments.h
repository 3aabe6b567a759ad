#pragma once

#include <QByteArray>
#include <QList>

#include <utility>

// The segments of a JPEG stream ahead of its scan, in stream order: the
// marker code (0xFFC0 for a baseline frame header) and the payload.
inline QList<std::pair<int, QByteArray>> jpegSegments(const QByteArray &jpeg)
{
    QList<std::pair<int, QByteArray>> result;
    qsizetype pos = 2;
    while (pos + 4 <= jpeg.size() && uchar(jpeg[pos]) == 0xFF) {
        const int marker = 0xFF00 | uchar(jpeg[pos + 1]);
        const int length = uchar(jpeg[pos + 2]) << 8 | uchar(jpeg[pos + 3]);
        result.append({marker, jpeg.mid(pos + 4, length - 2)});
        if (marker == 0xFFDA)
            break;
        pos += 2 + length;
    }
    return result;
}

// The payloads of the segments with that marker, in stream order.
inline QList<QByteArray> jpegSegments(const QByteArray &jpeg, int marker)
{
    QList<QByteArray> payloads;
    for (const auto &[code, payload] : jpegSegments(jpeg)) {
        if (code == marker)
            payloads.append(payload);
    }
    return payloads;
}
