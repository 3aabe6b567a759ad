#pragma once

#include "reportchange.h"

#include <QImage>
#include <QList>

// The changes between two reports' pictures, for reports that carry no text.
namespace PictureDiff {

// Bands of rows of the newer picture whose content the older picture does not
// have (Band), and where the older picture's rows were left out (Removed, a
// thin area). Rows are matched by content in order, so a band that only moved
// is not a change; JPEG noise at quality 30 is tolerated, while one character
// changed in a line of text is a change. Pictures of other widths differ throughout.
QList<ReportChange> changes(const QImage &older, const QImage &newer);

} // namespace PictureDiff
