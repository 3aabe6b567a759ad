#include "jpegcodec.h"

#include "apperror.h"
#include "backgroundwork.h"
#include "jpegshared.h"
#include "markersegments.h"
#include "textlayer.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <vector>

static_assert(Jpeg::MaxDimension == JPEG_MAX_DIMENSION);

namespace Jpeg {

namespace {

using namespace Shared;

constexpr int BandRows = 256;
// libjpeg takes rows one iMCU (at most 16 rows) at a time; more pointers per call save nothing.
constexpr int RowsPerCall = 16;
constexpr size_t OutputBufferSize = 64 * 1024;
// A picture this tall is encoded in two halves at once, one a thread, joined at
// a restart marker: a 60,000 px capture takes some 160 ms on one core.
constexpr int SplitFromRows = 2048;
// The halves' restart interval, in rows of MCUs (16 px rows with 4:2:0
// chroma); markers cycle through eight numbers, so the top half holds a
// multiple of eight intervals and the bottom half's numbers go on from it.
constexpr int RestartMcuRows = 4;
constexpr int McuRows = 16;
constexpr int SplitStep = RestartMcuRows * McuRows * 8;

// Compression into a device through a buffer of its own; destroyed on every
// path by its owner's scope.
struct Compressor
{
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    jpeg_destination_mgr dest{};
    QIODevice *out = nullptr;
    QString writeError;
    int width = 0;
    int height = 0;
    int quality = 0;
    int restartRows = 0;
    J_COLOR_SPACE inputSpace = JCS_RGB;
    // Comment segments written after the header's first segment (JFIF).
    QList<QByteArray> comments;
    const uchar *band = nullptr;
    int bandRows = 0;
    qsizetype bandBytesPerLine = 0;
    std::array<JOCTET, OutputBufferSize> buffer;

    Compressor(QIODevice *device, int w, int h, int q, J_COLOR_SPACE space)
        : out(device)
        , width(w)
        , height(h)
        , quality(q)
        , inputSpace(space)
    {
        initErrors(err);
        cinfo.err = &err.pub;
        cinfo.client_data = this;
        dest.init_destination = initDestination;
        dest.empty_output_buffer = emptyOutputBuffer;
        dest.term_destination = termDestination;
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); } // also on a never-created object
    Compressor(const Compressor &) = delete;
    Compressor &operator=(const Compressor &) = delete;

    static Compressor *of(j_compress_ptr cinfo) { return static_cast<Compressor *>(cinfo->client_data); }

    static void initDestination(j_compress_ptr cinfo)
    {
        Compressor *c = of(cinfo);
        c->dest.next_output_byte = c->buffer.data();
        c->dest.free_in_buffer = c->buffer.size();
    }

    static boolean emptyOutputBuffer(j_compress_ptr cinfo)
    {
        Compressor *c = of(cinfo);
        if (!c->flush(c->buffer.size()))
            ERREXIT(cinfo, JERR_FILE_WRITE);
        initDestination(cinfo);
        return TRUE;
    }

    static void termDestination(j_compress_ptr cinfo)
    {
        Compressor *c = of(cinfo);
        if (!c->flush(c->buffer.size() - c->dest.free_in_buffer))
            ERREXIT(cinfo, JERR_FILE_WRITE);
    }

    // Returns before any jump, so the message's temporaries are gone when libjpeg bails out.
    bool flush(size_t size)
    {
        const auto n = qint64(size);
        if (out->write(reinterpret_cast<const char *>(buffer.data()), n) == n)
            return true;
        writeError = QStringLiteral("Erro ao gravar imagem JPEG: ") + out->errorString();
        return false;
    }

    void run(void (*step)(Compressor *))
    {
        if (!guarded(err, this, step))
            throw AppError(writeError.isEmpty() ? codecError(err.pub.msg_code) : writeError);
    }

    void start()
    {
        run([](Compressor *c) {
            jpeg_create_compress(&c->cinfo);
            c->cinfo.dest = &c->dest;
            c->cinfo.image_width = JDIMENSION(c->width);
            c->cinfo.image_height = JDIMENSION(c->height);
            c->cinfo.in_color_space = c->inputSpace;
            c->cinfo.input_components = c->inputSpace == JCS_RGB ? 3 : 4;
            jpeg_set_defaults(&c->cinfo);
            jpeg_set_quality(&c->cinfo, c->quality, TRUE);
            c->cinfo.restart_in_rows = c->restartRows;
            jpeg_start_compress(&c->cinfo, TRUE);
            for (const QByteArray &comment : std::as_const(c->comments))
                jpeg_write_marker(&c->cinfo, JPEG_COM, reinterpret_cast<const JOCTET *>(comment.constData()),
                                  unsigned(comment.size()));
        });
    }

    // rows points at rowCount rows in the input layout, bytesPerLine apart.
    void writeRows(const uchar *rows, int rowCount, qsizetype bytesPerLine)
    {
        band = rows;
        bandRows = rowCount;
        bandBytesPerLine = bytesPerLine;
        run([](Compressor *c) {
            JSAMPROW pointers[RowsPerCall];
            for (int i = 0; i < c->bandRows;) {
                const int n = std::min(RowsPerCall, c->bandRows - i);
                for (int k = 0; k < n; ++k)
                    pointers[k] = const_cast<JSAMPROW>(c->band + (i + k) * c->bandBytesPerLine);
                i += int(jpeg_write_scanlines(&c->cinfo, pointers, JDIMENSION(n)));
            }
        });
    }

    void finish()
    {
        run([](Compressor *c) { jpeg_finish_compress(&c->cinfo); });
    }
};

// rowCount rows in place (inputSpace), each restartRows MCU rows a restart interval, as a whole stream.
QByteArray encodeRows(const uchar *rows, int width, int rowCount, qsizetype bytesPerLine, J_COLOR_SPACE inputSpace,
                      int quality, int restartRows, const QList<QByteArray> &comments = {})
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    Compressor compressor(&buffer, width, rowCount, quality, inputSpace);
    compressor.restartRows = restartRows;
    compressor.comments = comments;
    compressor.start();
    compressor.writeRows(rows, rowCount, bytesPerLine);
    compressor.finish();
    return data;
}

// The offset of a marker segment's type byte in the header, and where the scan's data begins.
struct Header
{
    qsizetype frame = -1; // the SOF0 marker's second byte
    qsizetype scanData = -1;
};

Header headerOf(const QByteArray &stream)
{
    Header header;
    for (const MarkerSegment &segment : headerSegments(stream)) {
        if (segment.marker == 0xC0)
            header.frame = segment.start + 1;
        if (segment.marker == 0xDA)
            header.scanData = segment.end();
    }
    return header;
}

// The two halves of one picture, encoded apart, as one baseline stream: the
// top half's header with the whole height, its scan, the restart marker that
// comes next, and the bottom half's scan (which begins as any interval does,
// every DC prediction reset).
void writeJoined(QByteArray top, const QByteArray &bottom, int height, int topRows, QIODevice *out)
{
    const Header topHeader = headerOf(top);
    const Header bottomHeader = headerOf(bottom);
    if (topHeader.frame < 0 || bottomHeader.scanData < 0 || !top.endsWith("\xFF\xD9"))
        throw AppError(QStringLiteral("Erro ao gravar imagem JPEG: as metades da imagem não se juntam"));
    top[topHeader.frame + 4] = char(height >> 8);
    top[topHeader.frame + 5] = char(height & 0xFF);
    top.chop(2);
    const int intervals = topRows / (McuRows * RestartMcuRows);
    top.append(char(0xFF)).append(char(0xD0 + (intervals - 1) % 8));
    const auto write = [out](const char *data, qint64 size) {
        if (out->write(data, size) != size)
            throw AppError(QStringLiteral("Erro ao gravar imagem JPEG: ") + out->errorString());
    };
    write(top.constData(), top.size());
    write(bottom.constData() + bottomHeader.scanData, bottom.size() - bottomHeader.scanData);
}

} // namespace

void encode(const QImage &image, int quality, QIODevice *out, const ReportText &text)
{
    const QList<QByteArray> comments = textSegments(text);
    if (image.width() <= 0 || image.height() <= 0)
        throw AppError(
            QStringLiteral("Imagem vazia (%1x%2): não há o que gravar em JPEG").arg(image.width()).arg(image.height()));
    if (!out || !out->isWritable())
        throw AppError(QStringLiteral("Erro ao gravar imagem JPEG: o destino não está aberto para escrita"));
    const J_COLOR_SPACE inPlace = inputSpaceOf(image.format());
    // Taller than a JPEG holds, the picture is left whole for libjpeg to refuse.
    if (inPlace != JCS_UNKNOWN && image.height() >= SplitFromRows && image.height() <= MaxDimension) {
        const int topRows = image.height() / 2 / SplitStep * SplitStep;
        QFuture<QByteArray> topHalf = BackgroundWork::run([&] {
            return encodeRows(image.constBits(), image.width(), topRows, image.bytesPerLine(), inPlace, quality,
                              RestartMcuRows, comments);
        });
        QByteArray bottom;
        try {
            bottom = encodeRows(image.constScanLine(topRows), image.width(), image.height() - topRows,
                                image.bytesPerLine(), inPlace, quality, RestartMcuRows);
        } catch (...) {
            BackgroundWork::awaitQuietly(topHalf);
            throw;
        }
        QByteArray top = topHalf.result();
        writeJoined(std::move(top), bottom, image.height(), topRows, out);
        return;
    }
    Compressor compressor(out, image.width(), image.height(), quality, inPlace == JCS_UNKNOWN ? JCS_RGB : inPlace);
    compressor.comments = comments;
    compressor.start();
    if (inPlace != JCS_UNKNOWN) {
        compressor.writeRows(image.constBits(), image.height(), image.bytesPerLine());
    } else {
        for (int y = 0; y < image.height(); y += BandRows) {
            const int n = std::min(BandRows, image.height() - y);
            const QImage band = image.copy(0, y, image.width(), n).convertToFormat(QImage::Format_RGB888);
            compressor.writeRows(band.constBits(), n, band.bytesPerLine());
        }
    }
    compressor.finish();
}

QByteArray encode(const QImage &image, int quality, const ReportText &text)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    encode(image, quality, &buffer, text);
    return data;
}
} // namespace Jpeg
