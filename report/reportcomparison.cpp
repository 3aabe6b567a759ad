#include "reportcomparison.h"

#include "jpegcodec.h"
#include "picturediff.h"
#include "textdiff.h"
#include "textlayer.h"

namespace ReportComparison {

Comparison compare(const QByteArray &older, const QByteArray &newer)
{
    Comparison result;
    result.newerBytes = newer;
    result.newer = Jpeg::decode(newer);
    const ReportText olderText = Jpeg::textLayer(older);
    const ReportText newerText = Jpeg::textLayer(newer);
    result.byPicture = olderText.isEmpty() || newerText.isEmpty();
    if (result.byPicture)
        result.changes = PictureDiff::changes(Jpeg::decode(older), result.newer);
    else
        result.changes = TextDiff::changes(olderText, newerText, result.newer.width());
    return result;
}

} // namespace ReportComparison
