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
#include <QtConcurrent>
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
    // The database thread only reads: a store queued meanwhile does not wait for the comparison.
    auto read = [client, older, newer] {
        const QueryArchive archive(client);
        return std::make_pair(archive.image(older), archive.image(newer));
    };
    const auto failed = [](const QString &message) {
        MessageBox::error(QStringLiteral("Erro ao comparar as consultas... \r\r") + message);
    };
    const QPointer<QWidget> owner(parent);
    whenReady(
        database->post(QStringLiteral("leitura das consultas a comparar"), std::move(read)), parent,
        [owner, older, newer, failed](const std::pair<QByteArray, QByteArray> &reports) {
            if (!owner)
                return;
            auto work = [reports, older, newer] {
                QElapsedTimer timer;
                timer.start();
                Comparison result = compare(reports.first, reports.second);
                result.olderDate = older.date;
                result.olderTime = older.time;
                result.newerDate = newer.date;
                result.newerTime = newer.time;
                qCInfo(lcStore).noquote() << "consultas comparadas" << (result.byPicture ? "pelas imagens:" : "pelo texto:")
                                          << result.changes.size() << "mudanças em" << timer.elapsed() << "ms";
                return result;
            };
            whenReady(
                QtConcurrent::run(std::move(work)), owner.data(),
                [owner](const Comparison &comparison) {
                    auto *dialog = new ComparisonDialog(comparison, owner);
                    dialog->setAttribute(Qt::WA_DeleteOnClose);
                    dialog->show();
                },
                failed);
        },
        failed);
}

} // namespace ReportComparison
