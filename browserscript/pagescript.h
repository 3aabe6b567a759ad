#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

// A script the tool runs in a page, kept as a .js file in the program's
// resources: one expression, `(function (args) { ... })`, called with its one
// argument as JSON, so that no value from outside is ever spliced into code.
// Helpers are files of function declarations the script may call.
namespace PageScript {

// For ScriptRunner::runChecked: the script answers {"ok": value} or {"erro":
// "<Portuguese message>"}; an exception in the page answers {"erro": ...} too.
QString call(const QString &file, const QJsonObject &argument = {}, const QStringList &helpers = {});

// For the page's own world: the script runs, and nothing is answered.
QString inPageWorld(const QString &file, const QJsonObject &argument = {});

} // namespace PageScript
