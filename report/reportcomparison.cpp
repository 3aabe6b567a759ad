#include "reportcomparison.h"

#include "backgroundwork.h"
#include "jpegcodec.h"
#include "picturediff.h"
#include "textdiff.h"
#include "textlayer.h"

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
    QFuture<QImage> olderPicture = BackgroundWork::run([&older] { return Jpeg::decode(older); });
    try {
        result.newer = Jpeg::decode(newer);
    } catch (...) {
        BackgroundWork::awaitQuietly(olderPicture);
        throw;
    }
    result.changes = PictureDiff::changes(olderPicture.takeResult(), result.newer);
    return result;
}

} // namespace ReportComparison
