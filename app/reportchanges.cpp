#include "reportchanges.h"

#include "backgroundwork.h"
#include "changecount.h"
#include "databasethread.h"

// The same words for any number, so that a scheduler's script reads the count.
static QString changesText(int count)
{
    return QStringLiteral("%1 mudanças").arg(count);
}

QString ReportChanges::detail() const
{
    if (first)
        return QStringLiteral("primeira consulta");
    if (!count)
        return QStringLiteral("sem texto para comparar");
    return QStringLiteral("%1 desde %2 %3")
        .arg(changesText(*count), olderDate.toString(QStringLiteral("dd/MM/yyyy")),
             olderTime.toString(QStringLiteral("HH:mm")));
}

QString ReportChanges::shortText() const
{
    // For the window's reader, in plain Portuguese.
    if (!count)
        return QString();
    return *count == 1 ? QStringLiteral("1 mudança") : changesText(*count);
}

QFuture<ReportChanges> countReportChanges(DatabaseThread *database, const Client &client,
                                          const QList<ArchiveEntry> &entries, int index)
{
    const ArchiveEntry newer = entries.value(index);
    const std::optional<ArchiveEntry> older = index > 0 ? std::optional(entries.at(index - 1)) : std::nullopt;
    if (!older)
        return QtFuture::makeReadyFuture(ReportChanges());
    // The database thread reads the two reports; the count runs on the pool.
    auto read = [client, older = *older, newer] {
        const QueryArchive archive(client);
        return std::make_pair(archive.image(older), archive.image(newer));
    };
    return BackgroundWork::then(database->post(QStringLiteral("leitura das consultas a comparar"), std::move(read)),
                                [older = *older](const std::pair<QByteArray, QByteArray> &reports) {
                                    ReportChanges changes;
                                    changes.first = false;
                                    changes.olderDate = older.date;
                                    changes.olderTime = older.time;
                                    changes.count = textChangeCount(reports.first, reports.second);
                                    return changes;
                                });
}
