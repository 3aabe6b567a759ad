#pragma once

#include <QList>
#include <QString>

// Every script the tool runs in a page. Texts from outside (element names,
// values, the CNPJ) enter only as JSON string literals. Each script answers
// {"ok": value} or {"erro": "<Portuguese message>"} for ScriptRunner::runChecked.
namespace PageScripts {

QString literal(const QString &text);

QString fillElement(const QString &elementName, const QString &value);
QString clickElement(const QString &elementName);
// Checks that document.forms has every position; with submit, then submits
// those forms in order (a later submission replaces an earlier one's navigation).
QString submitForms(const QList<int> &indices, bool submit);

// {"ok": {"width": W, "height": H}}: the larger of documentElement's and body's scroll sizes.
QString contentSize();
// {"ok": {"width": innerWidth, "height": innerHeight}}
QString viewportSize();
// A 2x2 marker of the given colour pinned to the viewport's bottom-right corner, or its removal.
QString showFrameMarker(const QString &cssColor);
QString removeFrameMarker();

} // namespace PageScripts
