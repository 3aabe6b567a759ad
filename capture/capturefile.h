#pragma once

#include "reportline.h"

class QImage;
class QString;

// Writes the picture to fileName as the capture file: a baseline colour JPEG
// at quality 30 with the page's text as its text layer, encoded and written in
// one pass, readable and writable by its owner alone, written whole or not at
// all. Throws AppError naming the file and the reason; an earlier file at that
// path is then left as it was.
void writeCaptureFile(const QImage &image, const ReportText &text, const QString &fileName);
