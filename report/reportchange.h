#pragma once

#include <QRect>
#include <QString>

// One difference of the newer report from the older, placed on the newer picture (picture pixels).
struct ReportChange
{
    enum Kind { Added, Changed, Removed, Band };
    Kind kind = Added;
    QRect area;
    QString text;   // the newer line's text (Added, Changed)
    QString before; // the older line's text (Changed, Removed)
};
