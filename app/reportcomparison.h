#pragma once

#include "reportchange.h"

#include <QByteArray>
#include <QDate>
#include <QImage>
#include <QList>
#include <QTime>

class DatabaseThread;
class QWidget;
struct ArchiveEntry;
struct Client;

// The newer of two archived reports with what changed since the older.
struct Comparison
{
    QImage newer;
    QByteArray newerBytes;
    QList<ReportChange> changes;
    bool byPicture = false; // one of the two carries no text
    QDate olderDate;
    QTime olderTime;
    QDate newerDate;
    QTime newerTime;
};

namespace ReportComparison {

// By text when both reports carry it, otherwise by picture. Throws AppError
// when a report cannot be decoded.
Comparison compare(const QByteArray &older, const QByteArray &newer);

// Reads the client's two entries on the database thread and compares them on
// a worker thread, then shows the comparison in a window over parent; a
// failure in an error box.
void show(DatabaseThread *database, const Client &client, const ArchiveEntry &older, const ArchiveEntry &newer,
          QWidget *parent);

} // namespace ReportComparison
