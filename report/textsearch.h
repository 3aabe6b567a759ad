#pragma once

#include "reportline.h"

#include <QList>
#include <QString>

// Finding words in a report's text as a reader expects: accents and case aside.
namespace TextSearch {

// Case-folded, without accents or other combining marks: "Crédito" and "CREDITO" give the same.
QString folded(const QString &text);

// The indices of the lines whose folded text holds the folded wanted text; none for an empty one.
QList<int> matchingLines(const QStringList &foldedLines, const QString &wanted);

} // namespace TextSearch
