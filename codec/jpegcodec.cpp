#include "jpegcodec.h"

#include "markersegments.h"

#include "apperror.h"

#include <QBuffer>
#include <QIODevice>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdio>
#include <exception>
#include <thread>
#include <vector>

#include <jpeglib.h>

static_assert(Jpeg::MaxDimension == JPEG_MAX_DIMENSION);
#include <jerror.h>

namespace Jpeg {

namespace {

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

QString codecError(int code)
{
    return QStringLiteral("JPEG error #%1").arg(code);
}

// libjpeg's error manager, extended with the jump target of the running step.
struct ErrorManager
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1);
}

// A truncated stream must fail instead of decoding as a picture padded with grey.
void emitMessage(j_common_ptr cinfo, int level)
{
    if (level != -1)
        return;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF)
        cinfo->err->error_exit(cinfo);
    ++cinfo->err->num_warnings;
}

void outputMessage(j_common_ptr) { }

void initErrors(ErrorManager &err)
{
    jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
}

// Runs one libjpeg step under a fresh jump target; false when libjpeg failed.
// Steps keep only trivially destructible locals, so the jump skips no destructor.
template<typename T>
bool guarded(ErrorManager &err, T *state, void (*step)(T *))
{
    if (setjmp(err.jump))
        return false;
    step(state);
    return true;
}

// How libjpeg reads a row of this format in place; JCS_UNKNOWN when it cannot.
J_COLOR_SPACE inputSpaceOf(QImage::Format format)
{
    constexpr bool little = Q_BYTE_ORDER == Q_LITTLE_ENDIAN;
    switch (format) {
    case QImage::Format_RGB888: return JCS_RGB;
    case QImage::Format_RGB32: // 0xffRRGGBB in native byte order
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: return little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    case QImage::Format_RGBX8888: // R, G, B, X in memory order
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied: return JCS_EXT_RGBX;
    default: return JCS_UNKNOWN;
    }
}

// Any warning while decoding means libjpeg is about to invent data (a
// corrupt or cut scan filled with grey): the picture is not whole.
void strictWarning(j_common_ptr cinfo, int level)
{
    if (level == -1)
        cinfo->err->error_exit(cinfo);
}

// An in-memory source that ends the stream with an end marker of its own, without
// libjpeg's warning: a stream that lacks only its trailer then decodes whole,
// while one that lacks data makes the decoder hit that marker, which it reports.
struct MemorySource
{
    jpeg_source_mgr pub{};
    bool pastEnd = false;
    static constexpr JOCTET endMarker[2] = {0xFF, JPEG_EOI};

    MemorySource(const uchar *data, size_t size)
    {
        pub.next_input_byte = data;
        pub.bytes_in_buffer = size;
        pub.init_source = [](j_decompress_ptr) {};
        pub.fill_input_buffer = [](j_decompress_ptr cinfo) -> boolean {
            auto *self = reinterpret_cast<MemorySource *>(cinfo->src);
            self->pastEnd = true;
            cinfo->src->next_input_byte = endMarker;
            cinfo->src->bytes_in_buffer = sizeof endMarker;
            return TRUE;
        };
        pub.skip_input_data = [](j_decompress_ptr cinfo, long count) {
            while (count > 0) {
                if (cinfo->src->bytes_in_buffer == 0)
                    cinfo->src->fill_input_buffer(cinfo);
                const long step = std::min(count, long(cinfo->src->bytes_in_buffer));
                cinfo->src->next_input_byte += step;
                cinfo->src->bytes_in_buffer -= size_t(step);
                count -= step;
            }
        };
        pub.resync_to_restart = jpeg_resync_to_restart;
        pub.term_source = [](j_decompress_ptr) {};
    }
};

// Decompression over an in-memory stream; destroyed on every path by its owner's scope.
struct Decoder
{
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    MemorySource source;
    uchar *bits = nullptr;
    qsizetype bytesPerLine = 0;
    unsigned scaleDenominator = 1; // rows made at 1/1, 1/2, 1/4 or 1/8 of the size

    explicit Decoder(const QByteArray &data)
        : source(reinterpret_cast<const uchar *>(data.constData()), size_t(data.size()))
    {
        initErrors(err);
        err.pub.emit_message = strictWarning;
        cinfo.err = &err.pub;
    }
    ~Decoder() { jpeg_destroy_decompress(&cinfo); }
    Decoder(const Decoder &) = delete;
    Decoder &operator=(const Decoder &) = delete;

    // A failure once the stream has run out is reported as the stream ending early.
    void run(void (*step)(Decoder *))
    {
        if (!guarded(err, this, step))
            throw AppError(codecError(source.pastEnd ? JWRN_JPEG_EOF : err.pub.msg_code));
    }

    void readHeader()
    {
        if (source.pub.bytes_in_buffer == 0)
            throw AppError(codecError(JERR_INPUT_EMPTY));
        run([](Decoder *p) {
            jpeg_create_decompress(&p->cinfo);
            p->cinfo.src = &p->source.pub;
            jpeg_read_header(&p->cinfo, TRUE);
        });
    }

    // Each 8x8 block of a Huffman-coded stream costs at least one bit, so a
    // header claiming more blocks than the data could hold is forged or cut;
    // refused before anything of its size is allocated.
    void checkDataCanFillTheImage() const
    {
        if (cinfo.arith_code)
            return;
        quint64 blocks = 0;
        for (int i = 0; i < cinfo.num_components; ++i)
            blocks += quint64(cinfo.comp_info[i].width_in_blocks) * cinfo.comp_info[i].height_in_blocks;
        if (quint64(source.pub.bytes_in_buffer) * 8 < blocks)
            throw AppError(codecError(JWRN_JPEG_EOF));
    }

    // Reads the header and starts decompression to the given row layout, once
    // the data can fill the picture.
    void start(J_DCT_METHOD method, J_COLOR_SPACE space = JCS_RGB)
    {
        readHeader();
        checkDataCanFillTheImage();
        cinfo.out_color_space = space;
        cinfo.dct_method = method;
        cinfo.scale_num = 1;
        cinfo.scale_denom = scaleDenominator;
        run([](Decoder *p) { jpeg_start_decompress(&p->cinfo); });
    }

    // Reads every row into bits, bytesPerLine apart (0: each row over the last), and ends the stream.
    void readRows()
    {
        run([](Decoder *p) {
            while (p->cinfo.output_scanline < p->cinfo.output_height) {
                JSAMPROW row = p->bits + qsizetype(p->cinfo.output_scanline) * p->bytesPerLine;
                jpeg_read_scanlines(&p->cinfo, &row, 1);
            }
            jpeg_finish_decompress(&p->cinfo);
        });
        // Every row was decoded from data; only a progressive stream, whose later
        // scans refine rows already out, can lack data without the decoder noticing.
        if (source.pastEnd && cinfo.progressive_mode)
            throw AppError(codecError(JWRN_JPEG_EOF));
    }
};

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
                      int quality, int restartRows)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    Compressor compressor(&buffer, width, rowCount, quality, inputSpace);
    compressor.restartRows = restartRows;
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

void encode(const QImage &image, int quality, QIODevice *out)
{
    if (image.width() <= 0 || image.height() <= 0)
        throw AppError(
            QStringLiteral("Imagem vazia (%1x%2): não há o que gravar em JPEG").arg(image.width()).arg(image.height()));
    if (!out || !out->isWritable())
        throw AppError(QStringLiteral("Erro ao gravar imagem JPEG: o destino não está aberto para escrita"));
    const J_COLOR_SPACE inPlace = inputSpaceOf(image.format());
    // Taller than a JPEG holds, the picture is left whole for libjpeg to refuse.
    if (inPlace != JCS_UNKNOWN && image.height() >= SplitFromRows && image.height() <= MaxDimension) {
        const int topRows = image.height() / 2 / SplitStep * SplitStep;
        QByteArray top;
        std::exception_ptr topFailure;
        std::thread topThread([&] {
            try {
                top = encodeRows(image.constBits(), image.width(), topRows, image.bytesPerLine(), inPlace, quality,
                                 RestartMcuRows);
            } catch (...) {
                topFailure = std::current_exception();
            }
        });
        QByteArray bottom;
        try {
            bottom = encodeRows(image.constScanLine(topRows), image.width(), image.height() - topRows,
                                image.bytesPerLine(), inPlace, quality, RestartMcuRows);
        } catch (...) {
            topThread.join();
            throw;
        }
        topThread.join();
        if (topFailure)
            std::rethrow_exception(topFailure);
        writeJoined(std::move(top), bottom, image.height(), topRows, out);
        return;
    }
    Compressor compressor(out, image.width(), image.height(), quality, inPlace == JCS_UNKNOWN ? JCS_RGB : inPlace);
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

QByteArray encode(const QImage &image, int quality)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    encode(image, quality, &buffer);
    return data;
}

constexpr qint64 MaxDecodedPixels = 200'000'000; // 600 MB of RGB; a 65,500 px capture of 3,000 px width

QImage decode(const QByteArray &data, QImage::Format format)
{
    const J_COLOR_SPACE space = format == QImage::Format_RGB32 ? inputSpaceOf(format) : JCS_RGB;
    if (format != QImage::Format_RGB32 && format != QImage::Format_RGB888)
        throw AppError(QStringLiteral("Erro ao ler imagem JPEG: formato %1 não suportado").arg(int(format)));
    Decoder decoder(data);
    decoder.start(JDCT_ISLOW, space);
    // A header can claim any size up to 65500 x 65500; refuse what no capture
    // makes before trying to allocate it.
    if (qint64(decoder.cinfo.output_width) * decoder.cinfo.output_height > MaxDecodedPixels)
        throw AppError(QStringLiteral("Imagem JPEG grande demais para exibir (%1x%2)")
                           .arg(decoder.cinfo.output_width)
                           .arg(decoder.cinfo.output_height));
    QImage image(int(decoder.cinfo.output_width), int(decoder.cinfo.output_height), format);
    if (image.isNull())
        throw AppError(QStringLiteral("Memória insuficiente para decodificar imagem JPEG de %1x%2")
                           .arg(decoder.cinfo.output_width)
                           .arg(decoder.cinfo.output_height));
    decoder.bits = image.bits();
    decoder.bytesPerLine = image.bytesPerLine();
    decoder.readRows();
    return image;
}

void verify(const QByteArray &data)
{
    Decoder decoder(data);
    // Every coefficient is still entropy-decoded, so a cut or damaged stream
    // fails as in a full decode; only the rows are made at an eighth of the size.
    decoder.scaleDenominator = 8;
    decoder.start(JDCT_IFAST);
    std::vector<uchar> row(size_t(decoder.cinfo.output_width) * size_t(decoder.cinfo.output_components));
    decoder.bits = row.data();
    decoder.bytesPerLine = 0;
    decoder.readRows();
}

} // namespace Jpeg
