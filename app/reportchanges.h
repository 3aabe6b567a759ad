#pragma once

#include "clientlookup.h"
#include "queryarchive.h"

#include <QDate>
#include <QFuture>
#include <QList>
#include <QString>
#include <QTime>

#include <optional>

class DatabaseThread;

// What a newly stored report changed against the client's previous one.
struct ReportChanges
{
    bool first = true; // no previous report
    std::optional<int> count; // none when either report has no text
    QDate olderDate;
    QTime olderTime;

    // "3 mudanças desde 02/01/2026 08:00", "primeira consulta" or "sem texto para comparar".
    QString detail() const;
    // "3 mudanças" ("1 mudança"), or empty when there is no count.
    QString shortText() const;
};

// Reads the new entry (at index) and the one before it on the database thread,
// then counts the changes between their texts on the program's pool.
QFuture<ReportChanges> countReportChanges(DatabaseThread *database, const Client &client,
                                          const QList<ArchiveEntry> &entries, int index);
