#pragma once

#include "reportchange.h"

#include <QByteArray>
#include <QDate>
#include <QImage>
#include <QList>
#include <QTime>


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

} // namespace ReportComparison
