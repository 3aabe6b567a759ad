#pragma once

#include "reportline.h"

class QImage;
class QString;

// Writes the picture to fileName as the capture file: a baseline colour JPEG
// at quality 30, readable and writable by its owner alone, written whole or not
// at all. Throws AppError naming the file and the reason; an earlier file at
// that path is then left as it was.
void writeCaptureFile(const QImage &image, const QString &fileName);

// Rewrites the capture file at fileName with the lines as its text layer, the
// picture's bytes unchanged; whole or not at all, owner-only, throwing as
// writeCaptureFile does.
void writeTextLayer(const QString &fileName, const ReportText &lines);
