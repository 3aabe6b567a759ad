#pragma once

#include "reportinfo.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// An archived report as a searchable PDF: A4 portrait pages, each headed as a
// printed page is and showing its band of the picture scaled to the page
// width; the stored JPEG embedded once, byte for byte, never decoded; the
// report's text layer, if any, as invisible text at each line's place and width.
namespace ReportPdf {

// The document for the stored JPEG bytes, written to out. Throws AppError with the reason.
void write(QIODevice &out, const QByteArray &jpeg, const ReportInfo &info);

// Writes the file whole or not at all: an existing file is only replaced by a
// complete one. Throws AppError naming the file and the reason.
void save(const QString &fileName, const QByteArray &jpeg, const ReportInfo &info);

} // namespace ReportPdf
