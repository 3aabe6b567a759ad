#include "jpegcodec.h"

#include "apperror.h"
#include "jpegshared.h"

#include <algorithm>
#include <vector>

#include <jerror.h>

namespace Jpeg {

namespace {

using namespace Shared;

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

} // namespace

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
