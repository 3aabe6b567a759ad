#pragma once

#include <QList>
#include <QString>

// The scripts the walk runs in a page (webquery/scripts/*.js). Each answers
// {"ok": value} or {"erro": "<Portuguese message>"} for ScriptRunner::runChecked.
namespace PageScripts {

QString fillElement(const QString &elementName, const QString &value);
// {"ok": sent}: whether the click sent anything (see PageAccess::ClicaElemento).
QString clickElement(const QString &elementName);
// Runs in the page's own world from the creation of each document: tells
// clickElement() what the page's scripts send (a form's submit(), a request,
// a new window) by an event on the document.
QString sendWatch();
// Checks that document.forms has every position; with submit, then submits
// those forms in order (a later submission replaces an earlier one's navigation).
QString submitForms(const QList<int> &indices, bool submit);

} // namespace PageScripts
