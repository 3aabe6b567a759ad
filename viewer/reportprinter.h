#pragma once

#include "reportinfo.h"

class QImage;
class QPagedPaintDevice;
class QPrinter;

namespace ReportPrinter {

// Paints the report scaled to the page width, cut into as many pages as it
// needs, each headed by the client and the query. Throws AppError.
void paint(QPagedPaintDevice &device, const QImage &picture, const ReportInfo &info);

// Prints on the printer as the print dialog left it. A PDF file is written in
// full or not at all; an existing file is only replaced by a complete one.
// Throws AppError with the reason.
void print(QPrinter &printer, const QImage &picture, const ReportInfo &info);

} // namespace ReportPrinter
