#pragma once

#include <QDeadlineTimer>
#include <QString>

class QWebEnginePage;

// When a loaded result page is ready to be captured: the requests of its own
// scripts answered, the document unchanged for a quiet time, its web fonts and
// the images in view loaded. A report that a script fills after the load is
// captured whole, not as its "carregando...".
namespace ReportSettle {

constexpr int QuietMs = 50;
// From the load: a page that never settles is captured as it stands then.
constexpr int LimitMs = 5000;

// Counts the requests of every document the page loads from now on.
void prepare(QWebEnginePage *page);

// Waits until the page has settled, or the deadline passes: then false, and
// what was still moving in `unsettled`. Throws as ScriptRunner does.
bool wait(QWebEnginePage *page, QDeadlineTimer deadline, QString *unsettled);

} // namespace ReportSettle
