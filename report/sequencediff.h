#pragma once

#include <QList>

#include <algorithm>
#include <utility>
#include <vector>

// The items two sequences keep in common, for the report comparisons.
namespace SequenceDiff {

namespace Detail {

// Myers' walk in linear space: each box is split at the middle snake of its
// shortest edit path, found from both ends at once, and the two halves are
// walked alike. Memory stays linear in the sequences' lengths, whatever the
// number of edits; the time is O((N + M) D).
template<typename Same>
class Walk
{
public:
    Walk(Same &same, QList<std::pair<int, int>> &pairs) : m_same(same), m_pairs(pairs) { }

    // Pairs the common items of old [x0, x1) and new [y0, y1), in order.
    // False, pairing nothing, when the box needs more than maxEdits edits
    // (when maxEdits >= 0) and its ends have nothing in common.
    bool pair(int x0, int x1, int y0, int y1, int maxEdits = -1)
    {
        while (x0 < x1 && y0 < y1 && m_same(x0, y0))
            m_pairs.append({x0++, y0++});
        int tail = 0;
        while (x0 < x1 - tail && y0 < y1 - tail && m_same(x1 - 1 - tail, y1 - 1 - tail))
            ++tail;
        if (x0 < x1 - tail && y0 < y1 - tail) {
            Snake snake;
            if (middleSnake(x0, x1 - tail, y0, y1 - tail, maxEdits, snake) < 0)
                return false;
            pair(x0, snake.x, y0, snake.y);
            for (int x = snake.x, y = snake.y; x < snake.u; ++x, ++y)
                m_pairs.append({x, y});
            pair(snake.u, x1 - tail, snake.v, y1 - tail);
        }
        for (int i = tail; i > 0; --i)
            m_pairs.append({x1 - i, y1 - i});
        return true;
    }

private:
    struct Snake
    {
        int x = 0, y = 0, u = 0, v = 0; // from (x, y) to (u, v), in the sequences' indices
    };

    // The middle snake of the box and the length of its shortest edit path;
    // -1 past maxEdits (when maxEdits >= 0).
    int middleSnake(int x0, int x1, int y0, int y1, int maxEdits, Snake &snake)
    {
        const int n = x1 - x0;
        const int m = y1 - y0;
        const int delta = n - m;
        const bool odd = delta % 2 != 0;
        int half = (n + m + 1) / 2;
        if (maxEdits >= 0)
            half = std::min(half, (maxEdits + 1) / 2);
        const int offset = half + 1;
        // Furthest x reached on each diagonal k = x - y: forward from the
        // box's top left, backward (in reversed indices) from its bottom right.
        std::vector<int> forward(size_t(2 * offset + 1), 0);
        std::vector<int> backward(size_t(2 * offset + 1), 0);
        const auto sameFromEnd = [&](int x, int y) { return m_same(x1 - 1 - x, y1 - 1 - y); };
        for (int d = 0; d <= half; ++d) {
            for (int k = -d; k <= d; k += 2) {
                int x = (k == -d || (k != d && forward[offset + k - 1] < forward[offset + k + 1]))
                            ? forward[offset + k + 1]
                            : forward[offset + k - 1] + 1;
                int y = x - k;
                const int startX = x;
                const int startY = y;
                while (x < n && y < m && m_same(x0 + x, y0 + y))
                    ++x, ++y;
                forward[offset + k] = x;
                const int back = delta - k;
                if (odd && back >= -(d - 1) && back <= d - 1 && x + backward[offset + back] >= n) {
                    snake = {x0 + startX, y0 + startY, x0 + x, y0 + y};
                    return within(2 * d - 1, maxEdits);
                }
            }
            for (int k = -d; k <= d; k += 2) {
                int x = (k == -d || (k != d && backward[offset + k - 1] < backward[offset + k + 1]))
                            ? backward[offset + k + 1]
                            : backward[offset + k - 1] + 1;
                int y = x - k;
                const int startX = x;
                const int startY = y;
                while (x < n && y < m && sameFromEnd(x, y))
                    ++x, ++y;
                backward[offset + k] = x;
                const int ahead = delta - k;
                if (!odd && ahead >= -d && ahead <= d && x + forward[offset + ahead] >= n) {
                    snake = {x1 - x, y1 - y, x1 - startX, y1 - startY};
                    return within(2 * d, maxEdits);
                }
            }
        }
        return -1;
    }

    static int within(int edits, int maxEdits) { return maxEdits >= 0 && edits > maxEdits ? -1 : edits; }

    Same &m_same;
    QList<std::pair<int, int>> &m_pairs;
};

} // namespace Detail

// Pairs (old index, new index) of items kept in common, in order, for a
// shortest edit path found by Myers' walk after the common head and tail are
// taken off. same(i, j) tells whether old item i and new item j are one. When
// more than maxEdits edits would be needed, the part between head and tail is
// left unpaired. Memory is linear in oldCount + newCount.
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
    Detail::Walk(same, pairs).pair(head, oldCount - tail, head, newCount - tail, maxEdits);
    for (int i = tail; i > 0; --i)
        pairs.append({oldCount - i, newCount - i});
    return pairs;
}

} // namespace SequenceDiff
