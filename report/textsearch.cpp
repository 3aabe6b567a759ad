#include "textsearch.h"

namespace TextSearch {

QString folded(const QString &text)
{
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString result;
    result.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            result.append(c);
    }
    return result.toCaseFolded();
}

QList<int> matchingLines(const QStringList &foldedLines, const QString &wanted)
{
    QList<int> found;
    const QString key = folded(wanted.simplified());
    if (key.isEmpty())
        return found;
    for (int i = 0; i < foldedLines.size(); ++i) {
        if (foldedLines.at(i).contains(key))
            found.append(i);
    }
    return found;
}

} // namespace TextSearch
