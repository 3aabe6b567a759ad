#pragma once

#include "markersegments.h"

#include <QByteArray>
#include <QList>

// The segments ahead of the scan, in stream order, as the codec reads them: marker code (0xFFC0...) and payload.
inline QList<std::pair<int, QByteArray>> jpegSegments(const QByteArray &jpeg)
{
    QList<std::pair<int, QByteArray>> result;
    for (const Jpeg::MarkerSegment &segment : Jpeg::headerSegments(jpeg))
        result.append({0xFF00 | segment.marker, jpeg.mid(segment.payload, segment.size)});
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
