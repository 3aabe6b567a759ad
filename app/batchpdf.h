#pragma once

#include "clientlookup.h"
#include "queryarchive.h"

#include <QString>

// Writes the client's report just stored from the capture file (the bytes the
// archive holds) as a PDF in the folder, named as the window proposes it.
// Returns empty once the file is whole, otherwise the reason, naming the file.
QString writeStoredReportPdf(const QString &folder, const Client &client, const ArchiveEntry &entry,
                             const QString &captureFile);
