#include "sequencediff.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
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

        const auto same = [&](int i, int j) { return a[i] == b[j]; };
        const auto pairs = SequenceDiff::commonItems(int(a.size()), int(b.size()), same, 1000);
        QCOMPARE(pairs.size(), lcs[0][0]);
        for (qsizetype p = 0; p < pairs.size(); ++p) {
            QCOMPARE(a[pairs[p].first], b[pairs[p].second]);
            QVERIFY(p == 0 || (pairs[p].first > pairs[p - 1].first && pairs[p].second > pairs[p - 1].second));
        }
        // Past the edit bound only the common ends are paired.
        const int edits = int(a.size() + b.size()) - 2 * lcs[0][0];
        const qsizetype head = std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin();
        const qsizetype ends
            = head + (std::mismatch(a.rbegin(), a.rend() - head, b.rbegin(), b.rend() - head).first - a.rbegin());
        const auto bounded = SequenceDiff::commonItems(int(a.size()), int(b.size()), same, edits - 1);
        QCOMPARE(bounded.size(), edits == 0 ? pairs.size() : ends);
    }
}

QTEST_GUILESS_MAIN(SequenceDiffTest)
#include "tst_sequencediff.moc"
