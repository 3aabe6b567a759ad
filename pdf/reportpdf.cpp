#include "reportpdf.h"

#include "apperror.h"
#include "textlayer.h"
#include "winansi.h"

#include <QDir>
#include <QSaveFile>

#include <hpdf.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace ReportPdf {

namespace {

// A4 portrait and a 10 mm margin, in points.
constexpr HPDF_REAL PageWidth = 595.276f;
constexpr HPDF_REAL PageHeight = 841.89f;
constexpr HPDF_REAL Margin = 28.3465f;
constexpr HPDF_REAL BodyWidth = PageWidth - 2 * Margin;
// Two lines of 9 pt text and a rule above the picture, as on a printed page.
constexpr HPDF_REAL HeadingSize = 9;
constexpr HPDF_REAL HeadingLine = HeadingSize * 1.15f;
constexpr HPDF_REAL HeadingHeight = HeadingLine * 2.6f;
constexpr HPDF_REAL BodyTop = PageHeight - Margin - HeadingHeight;
constexpr HPDF_REAL BodyHeight = BodyTop - Margin;
// Helvetica's depth below the baseline and its whole height, in ems.
constexpr HPDF_REAL Descent = 0.207f;
constexpr HPDF_REAL EmHeight = 1.15f;
// The page's numbers are kept below libharu's largest real: the picture is
// placed in units of this many pixels, so that even 65,500 px fit.
constexpr HPDF_REAL PixelUnit = 2;

// libharu reports through a handler; the first error is the one told.
struct Failure
{
    HPDF_STATUS error = HPDF_OK;
    HPDF_STATUS detail = HPDF_OK;
};

void HPDF_STDCALL recordError(HPDF_STATUS error, HPDF_STATUS detail, void *data)
{
    auto *failure = static_cast<Failure *>(data);
    if (error != HPDF_STREAM_EOF && failure->error == HPDF_OK)
        *failure = {error, detail};
}

struct DocDeleter
{
    void operator()(HPDF_Doc doc) const { HPDF_Free(doc); }
};
using Doc = std::unique_ptr<std::remove_pointer_t<HPDF_Doc>, DocDeleter>;

AppError pdfError(const QString &reason)
{
    return AppError(QStringLiteral("Erro ao gerar o PDF da consulta: ") + reason);
}

void check(const Failure &failure)
{
    if (failure.error == HPDF_FAILD_TO_ALLOC_MEM)
        throw pdfError(QStringLiteral("memória insuficiente"));
    if (failure.error != HPDF_OK)
        throw pdfError(QStringLiteral("erro 0x%1 (%2) da biblioteca libharu")
                           .arg(failure.error, 4, 16, QLatin1Char('0'))
                           .arg(failure.detail));
}

// The picture's geometry on the pages: whole rows per page, as the print cuts it.
struct Layout
{
    int width = 0;
    int height = 0;
    HPDF_REAL scale = 1; // points per pixel
    int rowsPerPage = 1;
    int pageCount = 1;
};

Layout layoutFor(int width, int height)
{
    Layout layout{width, height, BodyWidth / HPDF_REAL(width)};
    layout.rowsPerPage = std::max(1, int(std::floor(BodyHeight / layout.scale)));
    layout.pageCount = (height + layout.rowsPerPage - 1) / layout.rowsPerPage;
    return layout;
}

void showText(HPDF_Page page, HPDF_Font font, HPDF_REAL x, HPDF_REAL y, const QByteArray &text)
{
    HPDF_Page_BeginText(page);
    HPDF_Page_SetFontAndSize(page, font, HeadingSize);
    HPDF_Page_TextOut(page, x, y, text.constData());
    HPDF_Page_EndText(page);
}

HPDF_REAL textWidth(HPDF_Font font, const QByteArray &text, HPDF_REAL size)
{
    const HPDF_TextWidth width
        = HPDF_Font_TextWidth(font, reinterpret_cast<const HPDF_BYTE *>(text.constData()), HPDF_UINT(text.size()));
    return HPDF_REAL(width.width) * size / 1000;
}

void drawHeading(HPDF_Page page, HPDF_Doc doc, const ReportInfo::PageHeading &heading)
{
    HPDF_Font regular = HPDF_GetFont(doc, "Helvetica", "CP1252");
    HPDF_Font bold = HPDF_GetFont(doc, "Helvetica-Bold", "CP1252");
    // Each line's text centred on it, as the print aligns it.
    const HPDF_REAL first = PageHeight - Margin - (HeadingLine + HeadingSize * 0.72f) / 2;
    const HPDF_REAL second = first - HeadingLine;
    const auto right = [&](HPDF_REAL y, const QString &text) {
        const QByteArray bytes = toWinAnsi(text);
        showText(page, regular, PageWidth - Margin - textWidth(regular, bytes, HeadingSize), y, bytes);
    };
    showText(page, bold, Margin, first, toWinAnsi(heading.client));
    right(first, heading.page);
    showText(page, regular, Margin, second, toWinAnsi(heading.cnpj));
    right(second, heading.query);
    const HPDF_REAL rule = PageHeight - Margin - HeadingLine * 2.3f;
    HPDF_Page_SetLineWidth(page, 0.5f);
    HPDF_Page_MoveTo(page, Margin, rule);
    HPDF_Page_LineTo(page, PageWidth - Margin, rule);
    HPDF_Page_Stroke(page);
}

// The page's band of the picture: the one image, placed so that the band's
// first row is at the body's top, and clipped to the band.
void drawBand(HPDF_Page page, HPDF_Image image, const Layout &layout, int pageIndex)
{
    const int top = pageIndex * layout.rowsPerPage;
    const int rows = std::min(layout.rowsPerPage, layout.height - top);
    HPDF_Page_GSave(page);
    HPDF_Page_Rectangle(page, Margin, BodyTop - HPDF_REAL(rows) * layout.scale, BodyWidth,
                        HPDF_REAL(rows) * layout.scale);
    HPDF_Page_Clip(page);
    HPDF_Page_EndPath(page);
    const HPDF_REAL unit = layout.scale * PixelUnit;
    HPDF_Page_Concat(page, unit, 0, 0, unit, Margin, BodyTop);
    HPDF_Page_DrawImage(page, image, 0, HPDF_REAL(top - layout.height) / PixelUnit,
                        HPDF_REAL(layout.width) / PixelUnit, HPDF_REAL(layout.height) / PixelUnit);
    HPDF_Page_GRestore(page);
}

// Each line invisible, on the page that holds its middle, stretched to its width on the picture.
void drawText(const std::vector<HPDF_Page> &pages, HPDF_Font font, const Layout &layout, const ReportText &text)
{
    for (const ReportLine &line : text) {
        const QByteArray bytes = toWinAnsi(line.text).left(HPDF_LIMIT_MAX_STRING_LEN);
        const int middle = line.top + line.height / 2;
        if (bytes.trimmed().isEmpty() || line.width <= 0 || line.height <= 0 || middle < 0
            || middle >= layout.height)
            continue;
        const int pageIndex = middle / layout.rowsPerPage;
        HPDF_Page page = pages.at(std::size_t(pageIndex));
        const HPDF_REAL height = HPDF_REAL(line.height) * layout.scale;
        const HPDF_REAL size = std::clamp(height / EmHeight, 0.5f, HPDF_REAL(HPDF_MAX_FONTSIZE));
        const HPDF_REAL natural = textWidth(font, bytes, size);
        if (natural <= 0)
            continue;
        const HPDF_REAL stretch = std::clamp(100 * HPDF_REAL(line.width) * layout.scale / natural,
                                             HPDF_REAL(HPDF_MIN_HORIZONTALSCALING),
                                             HPDF_REAL(HPDF_MAX_HORIZONTALSCALING));
        const HPDF_REAL bottom = BodyTop - HPDF_REAL(line.top + line.height - pageIndex * layout.rowsPerPage) * layout.scale;
        HPDF_Page_BeginText(page);
        HPDF_Page_SetTextRenderingMode(page, HPDF_INVISIBLE);
        HPDF_Page_SetFontAndSize(page, font, size);
        HPDF_Page_SetHorizontalScalling(page, stretch);
        HPDF_Page_TextOut(page, Margin + HPDF_REAL(line.left) * layout.scale, bottom + Descent * size,
                          bytes.constData());
        HPDF_Page_EndText(page);
    }
}

void copyOut(HPDF_Doc doc, const Failure &failure, QIODevice &out)
{
    HPDF_SaveToStream(doc);
    check(failure);
    HPDF_ResetStream(doc);
    for (;;) {
        HPDF_BYTE buffer[64 * 1024];
        HPDF_UINT32 size = sizeof buffer;
        const HPDF_STATUS status = HPDF_ReadFromStream(doc, buffer, &size);
        if (size > 0 && out.write(reinterpret_cast<const char *>(buffer), size) != qint64(size))
            throw AppError(out.errorString());
        if (status == HPDF_STREAM_EOF || size == 0)
            break;
        check(failure);
    }
}

} // namespace

void write(QIODevice &out, const QByteArray &jpeg, const ReportInfo &info)
{
    Failure failure;
    const Doc doc(HPDF_New(recordError, &failure));
    if (!doc)
        throw pdfError(QStringLiteral("memória insuficiente"));
    // Page contents compressed; the picture is embedded as its JPEG stream, untouched.
    HPDF_SetCompressionMode(doc.get(), HPDF_COMP_TEXT | HPDF_COMP_METADATA);
    HPDF_SetInfoAttr(doc.get(), HPDF_INFO_TITLE, toWinAnsi(info.documentTitle()).constData());
    HPDF_SetInfoAttr(doc.get(), HPDF_INFO_CREATOR, "DeveZozuvor");
    HPDF_Image image = HPDF_LoadJpegImageFromMem(doc.get(), reinterpret_cast<const HPDF_BYTE *>(jpeg.constData()),
                                                 HPDF_UINT(jpeg.size()));
    if (!image || HPDF_Image_GetWidth(image) == 0 || HPDF_Image_GetHeight(image) == 0)
        throw pdfError(QStringLiteral("a imagem armazenada não é uma imagem JPEG que o PDF possa levar"));
    check(failure);

    const Layout layout = layoutFor(int(HPDF_Image_GetWidth(image)), int(HPDF_Image_GetHeight(image)));
    std::vector<HPDF_Page> pages;
    for (int i = 0; i < layout.pageCount; ++i) {
        HPDF_Page page = HPDF_AddPage(doc.get());
        check(failure);
        HPDF_Page_SetWidth(page, PageWidth);
        HPDF_Page_SetHeight(page, PageHeight);
        drawHeading(page, doc.get(), info.pageHeading(i + 1, layout.pageCount));
        drawBand(page, image, layout, i);
        pages.push_back(page);
    }
    drawText(pages, HPDF_GetFont(doc.get(), "Helvetica", "CP1252"), layout, Jpeg::textLayer(jpeg));
    check(failure);
    copyOut(doc.get(), failure, out);
}

void save(const QString &fileName, const QByteArray &jpeg, const ReportInfo &info)
{
    QSaveFile file(fileName);
    const auto failed = [&](const QString &reason) {
        return AppError(QDir::toNativeSeparators(fileName) + QStringLiteral(": ") + reason);
    };
    if (!file.open(QIODevice::WriteOnly))
        throw failed(file.errorString());
    try {
        write(file, jpeg, info);
    } catch (const AppError &error) {
        throw failed(error.message());
    }
    if (!file.commit())
        throw failed(file.errorString());
}

} // namespace ReportPdf
