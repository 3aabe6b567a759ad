#pragma once

#include "reportchange.h"
#include "reportline.h"

#include <QList>

// The changes between two reports' texts, line by line: a line that only moved is not one.
namespace TextDiff {

// In the newer report's order: lines new to it (Added), lines in place of
// older ones (Changed, the older text kept), and where older lines were left
// out (Removed, a thin area across the picture's width at that place).
QList<ReportChange> changes(const ReportText &older, const ReportText &newer, int pictureWidth);

} // namespace TextDiff
