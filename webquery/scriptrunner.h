#pragma once

#include <QString>
#include <QVariant>

class QWebEnginePage;

// The one bounded wait on the browser. Runs a script in the page's isolated
// world and waits for its answer in a local event loop, never sleeping.
namespace ScriptRunner {

constexpr int DefaultTimeoutMs = 10000;

// Returns the script's value. Throws AppError when no answer comes within
// timeoutMs, or when the page goes away while waiting.
QVariant run(QWebEnginePage *page, const QString &script, int timeoutMs = DefaultTimeoutMs);

// For scripts built by PageScripts: they answer {"ok": value} or {"erro": text}.
// An "erro" answer, or an answer of any other shape, is thrown as AppError.
QVariant runChecked(QWebEnginePage *page, const QString &script, int timeoutMs = DefaultTimeoutMs);

} // namespace ScriptRunner
