#include "reportprinter.h"

#include "apperror.h"

#include <QDir>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QSaveFile>

#include <cmath>

namespace ReportPrinter {

namespace {

// Two lines of text and a rule above the picture.
struct PageHeader
{
    QFont font;
    QFont boldFont;
    qreal lineHeight;
    qreal height;
};

PageHeader headerFor(QPagedPaintDevice &device)
{
    PageHeader header;
    header.font.setPointSizeF(9);
    header.boldFont = header.font;
    header.boldFont.setBold(true);
    header.lineHeight = QFontMetricsF(header.boldFont, &device).lineSpacing();
    header.height = header.lineHeight * 2.6;
    return header;
}

void paintHeader(QPainter &painter, const PageHeader &header, qreal width, const ReportInfo &info, int page,
                 int pageCount)
{
    const QRectF first(0, 0, width, header.lineHeight);
    const QRectF second = first.translated(0, header.lineHeight);
    const ReportInfo::PageHeading heading = info.pageHeading(page, pageCount);
    painter.setPen(Qt::black);
    painter.setFont(header.boldFont);
    painter.drawText(first, Qt::AlignLeft | Qt::AlignVCenter, heading.client);
    painter.setFont(header.font);
    painter.drawText(first, Qt::AlignRight | Qt::AlignVCenter, heading.page);
    painter.drawText(second, Qt::AlignLeft | Qt::AlignVCenter, heading.cnpj);
    painter.drawText(second, Qt::AlignRight | Qt::AlignVCenter, heading.query);
    const qreal rule = header.lineHeight * 2.3;
    painter.drawLine(QLineF(0, rule, width, rule));
}

} // namespace

void paint(QPagedPaintDevice &device, const QImage &picture, const ReportInfo &info)
{
    if (picture.isNull())
        throw AppError(QStringLiteral("Nenhuma consulta para imprimir"));

    QPainter painter;
    if (!painter.begin(&device))
        throw AppError(QStringLiteral("A impressora não aceitou o trabalho"));

    const PageHeader header = headerFor(device);
    const qreal width = device.width();
    const qreal bodyHeight = device.height() - header.height;
    const qreal scale = width / picture.width();
    // Whole picture rows per page, so that no row is printed twice or cut in half.
    const int rowsPerPage = int(std::floor(bodyHeight / scale));
    if (rowsPerPage < 1) {
        painter.end();
        throw AppError(QStringLiteral("A página é pequena demais para a consulta"));
    }
    const int pageCount = (picture.height() + rowsPerPage - 1) / rowsPerPage;

    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int page = 0; page < pageCount; ++page) {
        if (page > 0 && !device.newPage()) {
            painter.end();
            throw AppError(QStringLiteral("A impressora não aceitou a página %1").arg(page + 1));
        }
        paintHeader(painter, header, width, info, page + 1, pageCount);
        const int top = page * rowsPerPage;
        const int rows = qMin(rowsPerPage, picture.height() - top);
        painter.drawImage(QRectF(0, header.height, width, rows * scale), picture,
                          QRectF(0, top, picture.width(), rows));
    }
    if (!painter.end())
        throw AppError(QStringLiteral("A impressora não concluiu o trabalho"));
}

void print(QPrinter &printer, const QImage &picture, const ReportInfo &info)
{
    if (printer.outputFormat() != QPrinter::PdfFormat || printer.outputFileName().isEmpty()) {
        // The system's spooler takes the job only once it is complete.
        paint(printer, picture, info);
        return;
    }

    const QString fileName = printer.outputFileName();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(QDir::toNativeSeparators(fileName) + QStringLiteral(": ") + file.errorString());
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(printer.pageLayout());
        writer.setResolution(printer.resolution());
        writer.setTitle(printer.docName());
        writer.setCreator(printer.creator());
        paint(writer, picture, info);
    }
    if (!file.commit())
        throw AppError(QDir::toNativeSeparators(fileName) + QStringLiteral(": ") + file.errorString());
}

} // namespace ReportPrinter
