#pragma once

#include <QDate>
#include <QString>
#include <QTime>

class QImage;
class QPagedPaintDevice;
class QPrinter;

// Who and when an archived report belongs to, as the window shows it: it heads
// every printed page and names the saved file.
struct ReportInfo
{
    QString clientCode;
    QString clientName;
    QString cnpj; // as the client panel shows it
    QDate queryDate;
    QTime queryTime;

    QString cnpjDigits() const;
    // CNPJ digits, date and time of the query: "11222333000181_20260304_140506.jpg".
    QString suggestedFileName() const;
    // dd/MM/yyyy HH:mm:ss, whatever the system's formats: printed reports travel.
    QString queryDateTimeText() const;
};

namespace ReportPrinter {

// Paints the report scaled to the page width, cut into as many pages as it
// needs, each headed by the client and the query. Throws AppError.
void paint(QPagedPaintDevice &device, const QImage &picture, const ReportInfo &info);

// Prints on the printer as the print dialog left it. A PDF file is written in
// full or not at all; an existing file is only replaced by a complete one.
// Throws AppError with the reason.
void print(QPrinter &printer, const QImage &picture, const ReportInfo &info);

} // namespace ReportPrinter
