#pragma once

#include <QDeadlineTimer>
#include <QString>
#include <QVariant>

#include <functional>

class QWebEnginePage;

// The one bounded wait on the browser: a local event loop that runs until an
// answer or a condition arrives, a deadline, or the page going away, never
// sleeping, while the window keeps serving the user. Scripts run in the page's
// isolated world.
namespace ScriptRunner {

constexpr int DefaultTimeoutMs = 10000;

// Returns the script's value. Throws AppError when no answer comes within
// timeoutMs, or when the page goes away while waiting; Cancelled when
// cancelWaits(page) ends the wait.
QVariant run(QWebEnginePage *page, const QString &script, int timeoutMs = DefaultTimeoutMs);

// For scripts built by PageScripts: they answer {"ok": value} or {"erro": text}.
// An "erro" answer, or an answer of any other shape, is thrown as AppError.
QVariant runChecked(QWebEnginePage *page, const QString &script, int timeoutMs = DefaultTimeoutMs);

// Re-checks done() every few milliseconds while the event loop runs. True once it holds, false when the deadline passes
// first; throws AppError when the page goes away meanwhile.
bool waitUntil(const std::function<bool()> &done, QDeadlineTimer deadline, QWebEnginePage *page);

// Ends every wait now running on the page: each throws Cancelled. Waits
// begun afterwards run as usual.
void cancelWaits(QWebEnginePage *page);

} // namespace ScriptRunner
