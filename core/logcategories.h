#pragma once

#include <QLoggingCategory>

// What an administrator reads: one info line per query step, per capture and
// per store, a warning for every failure with its reason. Debug detail is off
// until QT_LOGGING_RULES turns it on ("devezozuvor.*.debug=true"). No line
// carries a password or a page's contents.
Q_DECLARE_LOGGING_CATEGORY(lcQuery)
Q_DECLARE_LOGGING_CATEGORY(lcStore)
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
