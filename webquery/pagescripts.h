#pragma once

#include <QList>
#include <QSize>
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
// Once the viewport has the wanted size, a 2x1 marker of the given colour
// fixed at its bottom-left. Answers {"ok": {"placed": bool, "width":
// innerWidth, "height": innerHeight}}.
QString showFrameMarker(QSize wanted, const QString &cssColor);
// A 2x1 marker of the given colour in the document's own flow at the
// viewport's bottom-right, painted with the page's last tile. Answers
// {"ok": {"x": X, "y": Y}}, the marker's last pixel.
QString showPageEndMarker(const QString &cssColor);
// Takes both capture markers off the page; {"ok": true} also when there were none.
QString removeCaptureMarkers();

} // namespace PageScripts
