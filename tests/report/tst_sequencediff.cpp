#include "sequencediff.h"

#include <QRandomGenerator>
#include <QTest>

#include <vector>

// The pairing against the longest common subsequence computed the slow, sure way.
class SequenceDiffTest : public QObject
{
    Q_OBJECT

private slots:
    void pairsALongestCommonSubsequence_data();
    void pairsALongestCommonSubsequence();
};

void SequenceDiffTest::pairsALongestCommonSubsequence_data()
{
    QTest::addColumn<int>("alphabet"); // few letters: long runs in common; many: few
    for (const int alphabet : {2, 4, 26})
        QTest::addRow("%d letters", alphabet) << alphabet;
}

void SequenceDiffTest::pairsALongestCommonSubsequence()
{
    QFETCH(int, alphabet);
    QRandomGenerator random{quint32(alphabet)};
    for (int round = 0; round < 300; ++round) {
        const auto word = [&] {
            QList<int> letters(random.bounded(40));
            for (int &letter : letters)
                letter = random.bounded(alphabet);
            return letters;
        };
        const QList<int> a = word();
        const QList<int> b = word();
        std::vector<std::vector<int>> lcs(size_t(a.size() + 1), std::vector<int>(size_t(b.size() + 1), 0));
        for (qsizetype i = a.size() - 1; i >= 0; --i)
            for (qsizetype j = b.size() - 1; j >= 0; --j)
                lcs[i][j] = a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);

        const auto pairs = SequenceDiff::commonItems(
            int(a.size()), int(b.size()), [&](int i, int j) { return a[i] == b[j]; }, 1000);
        QCOMPARE(pairs.size(), lcs[0][0]);
        for (qsizetype p = 0; p < pairs.size(); ++p) {
            QCOMPARE(a[pairs[p].first], b[pairs[p].second]);
            QVERIFY(p == 0 || (pairs[p].first > pairs[p - 1].first && pairs[p].second > pairs[p - 1].second));
        }
        // Past the edit bound only the common ends are paired.
        const int edits = int(a.size() + b.size()) - 2 * lcs[0][0];
        qsizetype head = 0;
        while (head < a.size() && head < b.size() && a[head] == b[head])
            ++head;
        qsizetype ends = head;
        while (ends - head < a.size() - head && ends - head < b.size() - head
               && a.rbegin()[ends - head] == b.rbegin()[ends - head])
            ++ends;
        const auto bounded = SequenceDiff::commonItems(
            int(a.size()), int(b.size()), [&](int i, int j) { return a[i] == b[j]; }, edits - 1);
        QCOMPARE(bounded.size(), edits == 0 ? pairs.size() : ends);
    }
}

QTEST_GUILESS_MAIN(SequenceDiffTest)
#include "tst_sequencediff.moc"
