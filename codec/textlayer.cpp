#include "textlayer.h"

#include "apperror.h"
#include "markersegments.h"

namespace Jpeg {

namespace {

// The tag and version that open every segment of ours; other comments are not ours.
constexpr char Tag[] = "DZTXT1";
constexpr qsizetype TagSize = sizeof Tag; // with its NUL, which no plain-text comment holds
// A segment's length field counts itself; 65,535 is the most it can say.
constexpr qsizetype ChunkSize = 65535 - 2 - TagSize;
constexpr uchar Marker = 0xFF;
constexpr uchar Soi = 0xD8;
constexpr uchar App0 = 0xE0;
constexpr uchar Com = 0xFE;

bool isOurs(const QByteArray &data, const MarkerSegment &segment)
{
    return segment.marker == Com && segment.size >= TagSize
           && QByteArrayView(data).sliced(segment.payload, TagSize) == QByteArrayView(Tag, TagSize);
}

// One line a row: top, height, left, width and the text, tab-separated; the
// text's own tabs and line breaks are spaces on the page anyway.
QByteArray serialised(const ReportText &lines)
{
    QByteArray body;
    for (const ReportLine &line : lines) {
        QString text = line.text;
        text.replace(QLatin1Char('\t'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        text.remove(QLatin1Char('\r'));
        body += QByteArray::number(line.top) + '\t' + QByteArray::number(line.height) + '\t'
                + QByteArray::number(line.left) + '\t' + QByteArray::number(line.width) + '\t' + text.toUtf8() + '\n';
    }
    return body;
}

ReportText parsed(const QByteArray &body)
{
    ReportText lines;
    for (qsizetype from = 0; from < body.size();) {
        qsizetype end = body.indexOf('\n', from);
        if (end < 0)
            end = body.size();
        const QByteArrayView row = QByteArrayView(body).sliced(from, end - from);
        from = end + 1;
        int fields[4];
        qsizetype at = 0;
        bool whole = true;
        for (int &field : fields) {
            const qsizetype tab = row.indexOf('\t', at);
            whole = whole && tab >= 0;
            if (!whole)
                break;
            field = row.sliced(at, tab - at).toInt();
            at = tab + 1;
        }
        if (whole)
            lines.append({fields[0], fields[1], fields[2], fields[3], QString::fromUtf8(row.sliced(at))});
    }
    return lines;
}

} // namespace

QList<QByteArray> textSegments(const ReportText &lines)
{
    QList<QByteArray> segments;
    const QByteArray body = serialised(lines);
    for (qsizetype from = 0; from < body.size(); from += ChunkSize)
        segments.append(QByteArray(Tag, TagSize) + body.mid(from, ChunkSize));
    return segments;
}

QByteArray withTextLayer(const QByteArray &jpeg, const ReportText &lines)
{
    const auto notJpeg = [](const QString &why) {
        return AppError(QStringLiteral("Erro ao gravar o texto na imagem JPEG: ") + why);
    };
    if (jpeg.size() < 4 || uchar(jpeg.at(0)) != Marker || uchar(jpeg.at(1)) != Soi)
        throw notJpeg(QStringLiteral("os dados não são uma imagem JPEG"));
    const QList<MarkerSegment> segments = headerSegments(jpeg);
    // After SOI and APP0: a JFIF reader wants its segment first.
    qsizetype insertAt = 2;
    if (jpeg.size() >= 4 && uchar(jpeg.at(2)) == Marker && uchar(jpeg.at(3)) == App0) {
        if (segments.isEmpty())
            throw notJpeg(QStringLiteral("o cabeçalho da imagem JPEG está incompleto"));
        insertAt = segments.first().end();
    }
    QByteArray result = jpeg.first(insertAt);
    for (const QByteArray &segment : textSegments(lines)) {
        const qsizetype length = 2 + segment.size();
        result.append(char(Marker)).append(char(Com)).append(char(length >> 8)).append(char(length & 0xFF));
        result.append(segment);
    }
    qsizetype copied = insertAt;
    for (const MarkerSegment &segment : segments) {
        if (segment.start >= insertAt && isOurs(jpeg, segment)) {
            result.append(QByteArrayView(jpeg).sliced(copied, segment.start - copied));
            copied = segment.end();
        }
    }
    result.append(QByteArrayView(jpeg).sliced(copied));
    return result;
}

ReportText textLayer(const QByteArray &jpeg)
{
    QByteArray body;
    for (const MarkerSegment &segment : headerSegments(jpeg)) {
        if (isOurs(jpeg, segment))
            body.append(QByteArrayView(jpeg).sliced(segment.payload + TagSize, segment.size - TagSize));
    }
    return parsed(body);
}

} // namespace Jpeg
