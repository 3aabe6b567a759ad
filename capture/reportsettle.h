#pragma once

#include <QDeadlineTimer>
#include <QString>

class QWebEnginePage;

// When a loaded result page is ready to be captured: the requests of its own
// scripts answered, its short one-shot timers fired, the document unchanged
// for a quiet time, its web fonts and all its pictures and frames loaded (those
// marked loading="lazy" are loaded at once, as the capture draws the whole
// page). A report that a script fills after the load is captured whole, not as
// its "carregando...".
namespace ReportSettle {

constexpr int QuietMs = 50;
// From the load: a page that never settles is captured as it stands then.
constexpr int LimitMs = 5000;
// A one-shot timer of at most this is waited for; a longer one, or an interval, is not.
constexpr int ShortTimerMs = 2000;

// Counts the requests of every document the page loads from now on.
void prepare(QWebEnginePage *page);

// Waits until the page has settled, or the deadline passes: then false, and
// what was still moving in `unsettled`. Throws as ScriptRunner does.
bool wait(QWebEnginePage *page, QDeadlineTimer deadline, QString *unsettled);

} // namespace ReportSettle
