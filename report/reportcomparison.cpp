#include "reportcomparison.h"

#include "jpegcodec.h"
#include "picturediff.h"
#include "textdiff.h"
#include "textlayer.h"

#include <future>

namespace ReportComparison {

Comparison compare(const QByteArray &older, const QByteArray &newer)
{
    Comparison result;
    result.newerBytes = newer;
    const ReportText olderText = Jpeg::textLayer(older);
    const ReportText newerText = Jpeg::textLayer(newer);
    result.byPicture = olderText.isEmpty() || newerText.isEmpty();
    if (!result.byPicture) {
        result.newer = Jpeg::decode(newer);
        result.changes = TextDiff::changes(olderText, newerText, result.newer.width());
        return result;
    }
    // The two pictures decode at once, one a thread: decoding is most of a tall report's comparison.
    std::future<QImage> olderPicture = std::async(std::launch::async, [&older] { return Jpeg::decode(older); });
    result.newer = Jpeg::decode(newer);
    result.changes = PictureDiff::changes(olderPicture.get(), result.newer);
    return result;
}

} // namespace ReportComparison
