#include "reportchanges.h"

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
    return database->post(QStringLiteral("comparação com a consulta anterior"), [client, older, newer] {
        ReportChanges changes;
        if (!older)
            return changes;
        changes.first = false;
        changes.olderDate = older->date;
        changes.olderTime = older->time;
        const QueryArchive archive(client);
        changes.count = textChangeCount(archive.image(*older), archive.image(newer));
        return changes;
    });
}
