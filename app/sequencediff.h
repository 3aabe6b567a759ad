#pragma once

#include <QList>

#include <algorithm>
#include <utility>
#include <vector>

// The items two sequences keep in common, for the report comparisons.
namespace SequenceDiff {

// Pairs (old index, new index) of items kept in common, in order, found by
// Myers' O((N + M) D) walk after the common head and tail are taken off.
// same(i, j) tells whether old item i and new item j are one. When more than
// maxEdits edits would be needed, the part between head and tail is left unpaired.
template<typename Same>
QList<std::pair<int, int>> commonItems(int oldCount, int newCount, Same &&same, int maxEdits)
{
    QList<std::pair<int, int>> pairs;
    int head = 0;
    while (head < oldCount && head < newCount && same(head, head))
        ++head;
    int tail = 0;
    while (tail < oldCount - head && tail < newCount - head && same(oldCount - 1 - tail, newCount - 1 - tail))
        ++tail;
    for (int i = 0; i < head; ++i)
        pairs.append({i, i});

    const int n = oldCount - head - tail;
    const int m = newCount - head - tail;
    const auto sameMiddle = [&](int x, int y) { return same(head + x, head + y); };
    const int limit = std::min(n + m, maxEdits);
    const int offset = limit + 1;
    std::vector<int> v(size_t(2 * offset + 1), 0);
    std::vector<std::vector<int>> trace; // v over k in [-d, d] after step d
    int edits = -1;
    for (int d = 0; d <= limit && edits < 0; ++d) {
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && v[offset + k - 1] < v[offset + k + 1])) ? v[offset + k + 1]
                                                                                   : v[offset + k - 1] + 1;
            int y = x - k;
            while (x < n && y < m && sameMiddle(x, y))
                ++x, ++y;
            v[offset + k] = x;
            if (x >= n && y >= m)
                edits = d;
        }
        trace.emplace_back(v.begin() + offset - d, v.begin() + offset + d + 1);
    }
    QList<std::pair<int, int>> middle;
    if (edits >= 0) {
        int x = n;
        int y = m;
        for (int d = edits; d >= 0; --d) {
            const int k = x - y;
            int previousX = 0;
            int previousK = 1;
            if (d > 0) {
                const std::vector<int> &before = trace[size_t(d - 1)];
                const auto at = [&](int kk) { return before[size_t(kk + d - 1)]; };
                previousK = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? k + 1 : k - 1;
                previousX = at(previousK);
            }
            const int previousY = previousX - previousK;
            while (x > previousX && y > previousY && x > 0 && y > 0) {
                --x, --y;
                middle.append({head + x, head + y});
            }
            x = previousX;
            y = previousY;
        }
        std::reverse(middle.begin(), middle.end());
    }
    pairs.append(middle);
    for (int i = tail; i > 0; --i)
        pairs.append({oldCount - i, newCount - i});
    return pairs;
}

} // namespace SequenceDiff
