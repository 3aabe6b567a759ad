#include "changecount.h"

#include "textdiff.h"
#include "textlayer.h"

std::optional<int> textChangeCount(const QByteArray &olderJpeg, const QByteArray &newerJpeg)
{
    const ReportText older = Jpeg::textLayer(olderJpeg);
    const ReportText newer = Jpeg::textLayer(newerJpeg);
    if (older.isEmpty() || newer.isEmpty())
        return std::nullopt;
    // The width only places removals on the picture; a count needs no place.
    return int(TextDiff::changes(older, newer, 0).size());
}
