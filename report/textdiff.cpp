#include "textdiff.h"

#include "sequencediff.h"

#include <QHash>

namespace TextDiff {

namespace {

// Reports of the same kind differ in a few lines; more edits than this compare as wholly different.
constexpr int MaxEdits = 4000;

QRect areaOf(const ReportLine &line)
{
    return QRect(line.left - 3, line.top - 1, line.width + 6, line.height + 2);
}

} // namespace

QList<ReportChange> changes(const ReportText &older, const ReportText &newer, int pictureWidth)
{
    QList<size_t> oldHashes;
    QList<size_t> newHashes;
    for (const ReportLine &line : older)
        oldHashes.append(qHash(line.text.simplified()));
    for (const ReportLine &line : newer)
        newHashes.append(qHash(line.text.simplified()));
    const auto same = [&](int i, int j) {
        return oldHashes[i] == newHashes[j] && older[i].text.simplified() == newer[j].text.simplified();
    };
    QList<std::pair<int, int>> kept = SequenceDiff::commonItems(int(older.size()), int(newer.size()), same, MaxEdits);
    kept.append({int(older.size()), int(newer.size())});

    QList<ReportChange> result;
    int oldAt = 0;
    int newAt = 0;
    for (const auto &[oldKept, newKept] : kept) {
        const int removed = oldKept - oldAt;
        const int added = newKept - newAt;
        for (int i = 0; i < added; ++i) {
            const ReportLine &line = newer[newAt + i];
            if (i < removed)
                result.append({ReportChange::Changed, areaOf(line), line.text, older[oldAt + i].text});
            else
                result.append({ReportChange::Added, areaOf(line), line.text, QString()});
        }
        // Marked where they stood: above the next kept line, or below the last one.
        const int y = newKept < newer.size() ? newer[newKept].top - 3
                      : newer.isEmpty()      ? 0
                                             : newer.last().top + newer.last().height + 1;
        for (int i = added; i < removed; ++i)
            result.append({ReportChange::Removed, QRect(0, y - 1, pictureWidth, 4), QString(), older[oldAt + i].text});
        oldAt = oldKept + 1;
        newAt = newKept + 1;
    }
    return result;
}

} // namespace TextDiff
