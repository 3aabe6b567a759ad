#include "textlayer.h"

#include "apperror.h"

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
constexpr uchar Sos = 0xDA;

quint16 lengthAt(const QByteArray &data, qsizetype at)
{
    return quint16(uchar(data.at(at)) << 8 | uchar(data.at(at + 1)));
}

bool isOurs(const QByteArray &data, qsizetype payload, qsizetype size)
{
    return size >= TagSize && QByteArrayView(data).sliced(payload, TagSize) == QByteArrayView(Tag, TagSize);
}

// Calls segment(marker, start, payload, payloadSize) for each header segment after SOI, up to the scan.
template<typename Visit>
void forEachSegment(const QByteArray &jpeg, Visit &&segment)
{
    for (qsizetype at = 2; at + 4 <= jpeg.size() && uchar(jpeg.at(at)) == Marker;) {
        const uchar marker = uchar(jpeg.at(at + 1));
        const qsizetype length = lengthAt(jpeg, at + 2);
        if (marker == Sos || length < 2 || at + 2 + length > jpeg.size())
            return;
        segment(marker, at, at + 4, length - 2);
        at += 2 + length;
    }
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

QByteArray withTextLayer(const QByteArray &jpeg, const ReportText &lines)
{
    if (jpeg.size() < 4 || uchar(jpeg.at(0)) != Marker || uchar(jpeg.at(1)) != Soi)
        throw AppError(QStringLiteral("Erro ao gravar o texto na imagem JPEG: os dados não são uma imagem JPEG"));
    // After SOI and APP0: a JFIF reader wants its segment first.
    qsizetype insertAt = 2;
    if (jpeg.size() >= 6 && uchar(jpeg.at(2)) == Marker && uchar(jpeg.at(3)) == App0)
        insertAt = 4 + lengthAt(jpeg, 4);
    QByteArray result = jpeg.first(insertAt);
    const QByteArray body = serialised(lines);
    for (qsizetype from = 0; from < body.size(); from += ChunkSize) {
        const QByteArray chunk = body.mid(from, ChunkSize);
        const qsizetype length = 2 + TagSize + chunk.size();
        result.append(char(Marker)).append(char(Com)).append(char(length >> 8)).append(char(length & 0xFF));
        result.append(Tag, TagSize).append(chunk);
    }
    qsizetype copied = insertAt;
    forEachSegment(jpeg, [&](uchar marker, qsizetype start, qsizetype payload, qsizetype size) {
        if (start < insertAt)
            return;
        if (marker == Com && isOurs(jpeg, payload, size)) {
            result.append(QByteArrayView(jpeg).sliced(copied, start - copied));
            copied = payload + size;
        }
    });
    result.append(QByteArrayView(jpeg).sliced(copied));
    return result;
}

ReportText textLayer(const QByteArray &jpeg)
{
    QByteArray body;
    forEachSegment(jpeg, [&](uchar marker, qsizetype, qsizetype payload, qsizetype size) {
        if (marker == Com && isOurs(jpeg, payload, size))
            body.append(QByteArrayView(jpeg).sliced(payload + TagSize, size - TagSize));
    });
    return parsed(body);
}

} // namespace Jpeg
