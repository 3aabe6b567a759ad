#include "reportcomparison.h"

#include "comparisondialog.h"
#include "databasethread.h"
#include "futurereply.h"
#include "jpegcodec.h"
#include "logcategories.h"
#include "messagebox.h"
#include "picturediff.h"
#include "queryarchive.h"
#include "textdiff.h"
#include "textlayer.h"

#include <QElapsedTimer>
#include <QPointer>

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

void show(DatabaseThread *database, const Client &client, const ArchiveEntry &older, const ArchiveEntry &newer,
          QWidget *parent)
{
    auto job = [client, older, newer] {
        QElapsedTimer timer;
        timer.start();
        const QueryArchive archive(client);
        Comparison result = compare(archive.image(older), archive.image(newer));
        result.olderDate = older.date;
        result.olderTime = older.time;
        result.newerDate = newer.date;
        result.newerTime = newer.time;
        qCInfo(lcStore).noquote() << "consultas comparadas" << (result.byPicture ? "pelas imagens:" : "pelo texto:")
                                  << result.changes.size() << "mudanças em" << timer.elapsed() << "ms";
        return result;
    };
    const QPointer<QWidget> owner(parent);
    whenReady(
        database->post(QStringLiteral("comparação das consultas"), std::move(job)), parent,
        [owner](const Comparison &comparison) {
            auto *dialog = new ComparisonDialog(comparison, owner);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            dialog->show();
        },
        [](const QString &message) {
            MessageBox::error(QStringLiteral("Erro ao comparar as consultas... \r\r") + message);
        });
}

} // namespace ReportComparison
