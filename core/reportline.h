#pragma once

#include <QList>
#include <QString>

// One line of a report's visible text and its place on the captured page, in page pixels.
struct ReportLine
{
    int top = 0;
    int height = 0;
    int left = 0;
    int width = 0;
    QString text;

    friend bool operator==(const ReportLine &, const ReportLine &) = default;
};

using ReportText = QList<ReportLine>;
