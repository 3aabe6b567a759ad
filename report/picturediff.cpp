#include "picturediff.h"

#include "backgroundwork.h"
#include "sequencediff.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <vector>

namespace PictureDiff {

namespace {

// A row is seen as the mean luma of blocks this wide: fine enough for a line of
// text, coarse enough to average JPEG noise away. Luma alone, as JPEG keeps it
// whole: the colours are kept at half resolution and bleed across edges
// differently once a band has moved.
constexpr int BlockWidth = 8;
// Two rows are paired when their blocks differ by at most this much on average.
constexpr int MeanTolerance = 4;
// Rows on either side averaged with each row.
constexpr int SmoothRows = 4;
// Paired rows are one when, at one offset of at most TileReach rows, no tile
// of TileWidth x TileRows px, unsmoothed, differs in mean luma by more than
// TileTolerance: a changed character (a 1 turned into a 7) moves its ink
// inside a block, which the blocks' means do not see. JPEG's ringing around
// text, moved against the 8-row grid or encoded again, stays under it.
constexpr int TileWidth = 4;
constexpr int TileRows = 3;
constexpr int TileReach = 2;
constexpr int TileTolerance = 24;
static_assert(BlockWidth == 2 * TileWidth, "a block is two tiles");
constexpr int TileShift = 10; // luma weights sum to 256, times TileWidth pixels
static_assert(256 * TileWidth == 1 << TileShift);
// Unpaired rows this close together make one band. A seam, where rows that
// were not neighbours now meet, differs over the smoothing's reach alone:
// a band no taller than that is such a seam.
constexpr int BandGap = 12;
constexpr int MinimumBand = 2 * SmoothRows + 2;
// Fewer older rows than this left out are the edges of a changed band, not a removal.
constexpr int MinimumRemoved = 16;
constexpr int MaxEdits = 6000;

struct Rows
{
    int height = 0;
    int blocks = 0;
    std::vector<quint8> values; // blocks per row, row after row
    std::vector<quint32> sums;
    int tiles = 0;
    std::vector<quint8> narrow; // TileWidth px means, tiles per row, row after row

    explicit Rows(const QImage &picture)
    {
        const QImage rgb = picture.format() == QImage::Format_RGB888 || picture.format() == QImage::Format_RGB32
                               ? picture
                               : picture.convertToFormat(QImage::Format_RGB888);
        height = rgb.height();
        blocks = (rgb.width() + BlockWidth - 1) / BlockWidth;
        tiles = (rgb.width() + TileWidth - 1) / TileWidth;
        values.resize(size_t(blocks) * size_t(height));
        sums.resize(size_t(height));
        narrow.resize(size_t(tiles) * size_t(height));
        const bool rgb888 = rgb.format() == QImage::Format_RGB888;
        const int step = rgb888 ? 3 : 4;
        // RGB888 is R, G, B in memory, RGB32 (little-endian) B, G, R, X.
        const int red = rgb888 ? 0 : 2;
        const int blue = rgb888 ? 2 : 0;
        std::vector<int> tileLuma(size_t(tiles) + 1); // one more: a last block of one tile adds nothing
        for (int y = 0; y < height; ++y) {
            const uchar *line = rgb.constScanLine(y);
            for (int t = 0; t < tiles; ++t) {
                const int from = t * TileWidth;
                const int to = std::min(rgb.width(), from + TileWidth);
                int sum = 0;
                for (int x = from; x < to; ++x) {
                    const uchar *p = line + x * step;
                    sum += 77 * p[red] + 150 * p[1] + 29 * p[blue];
                }
                tileLuma[size_t(t)] = sum;
                // A shift for whole tiles and blocks: a division per tile costs as much as its pixels.
                narrow[size_t(y) * size_t(tiles) + size_t(t)]
                    = quint8(to - from == TileWidth ? sum >> TileShift : sum / (256 * (to - from)));
            }
            for (int b = 0; b < blocks; ++b) {
                const int width = std::min(rgb.width(), (b + 1) * BlockWidth) - b * BlockWidth;
                const int sum = tileLuma[size_t(2 * b)] + tileLuma[size_t(2 * b + 1)];
                values[size_t(y) * size_t(blocks) + size_t(b)]
                    = quint8(width == BlockWidth ? sum >> (TileShift + 1) : sum / (256 * width));
            }
        }
        smoothVertically();
    }

    // Each block the mean of itself and the rows around it: JPEG rings for a few
    // rows on either side of a sharp edge, differently once the edge has moved
    // against the 8-row block grid, and that averages away.
    void smoothVertically()
    {
        std::vector<quint32> column(size_t(height) + 1);
        std::vector<quint8> smooth(values.size());
        for (int b = 0; b < blocks; ++b) {
            for (int y = 0; y < height; ++y)
                column[size_t(y) + 1] = column[size_t(y)] + values[size_t(y) * size_t(blocks) + size_t(b)];
            for (int y = 0; y < height; ++y) {
                const int from = std::max(0, y - SmoothRows);
                const int to = std::min(height, y + SmoothRows + 1);
                smooth[size_t(y) * size_t(blocks) + size_t(b)]
                    = quint8((column[size_t(to)] - column[size_t(from)]) / quint32(to - from));
            }
        }
        values.swap(smooth);
        for (int y = 0; y < height; ++y) {
            const quint8 *r = row(y);
            sums[size_t(y)] = std::accumulate(r, r + blocks, quint32(0));
        }
    }

    const quint8 *row(int y) const { return values.data() + size_t(y) * size_t(blocks); }
    const quint8 *tileRow(int y) const { return narrow.data() + size_t(y) * size_t(tiles); }
};

bool sameRow(const Rows &a, int i, const Rows &b, int j)
{
    const int limit = MeanTolerance * a.blocks;
    if (std::abs(int(a.sums[size_t(i)]) - int(b.sums[size_t(j)])) > limit)
        return false;
    const quint8 *p = a.row(i);
    const quint8 *q = b.row(j);
    int total = 0;
    for (int k = 0; k < a.blocks; ++k)
        total += std::abs(int(p[k]) - int(q[k]));
    return total <= limit;
}

// Both pictures' rows, read at once: the older on a thread of its own.
std::pair<Rows, Rows> readRows(const QImage &older, const QImage &newer)
{
    QFuture<Rows> oldRows = BackgroundWork::run([&older] { return Rows(older); });
    std::optional<Rows> newRows;
    try {
        newRows.emplace(newer);
    } catch (...) {
        BackgroundWork::awaitQuietly(oldRows);
        throw;
    }
    return {oldRows.takeResult(), std::move(*newRows)};
}

// Row i's tiles and row j's, each TileRows rows from there (the last rows take the last whole tiles).
bool sameTiles(const Rows &a, int i, const Rows &b, int j)
{
    const auto at = [&](int offset) {
        if (i + offset < 0 || i + offset >= a.height)
            return false;
        const int top = std::min(i + offset, a.height - TileRows);
        const int bottom = std::min(j, b.height - TileRows);
        if (top < 0 || bottom < 0)
            return true;
        const quint8 *p[TileRows];
        const quint8 *q[TileRows];
        for (int r = 0; r < TileRows; ++r) {
            p[r] = a.tileRow(top + r);
            q[r] = b.tileRow(bottom + r);
        }
        int worst = 0;
        for (int t = 0; t < a.tiles; ++t) {
            int difference = 0;
            for (int r = 0; r < TileRows; ++r)
                difference += int(p[r][t]) - int(q[r][t]);
            worst = std::max(worst, std::abs(difference));
        }
        return worst <= TileTolerance * TileRows;
    };
    if (at(0))
        return true;
    for (int offset = 1; offset <= TileReach; ++offset) {
        if (at(-offset) || at(offset))
            return true;
    }
    return false;
}

} // namespace

QList<ReportChange> changes(const QImage &older, const QImage &newer)
{
    QList<ReportChange> result;
    if (newer.isNull())
        return result;
    if (older.isNull() || older.width() != newer.width()) {
        result.append({ReportChange::Band, newer.rect(), QString(), QString()});
        return result;
    }
    const auto [oldRows, newRows] = readRows(older, newer);
    const auto same = [&](int i, int j) { return sameRow(oldRows, i, newRows, j); };
    QList<std::pair<int, int>> kept = SequenceDiff::commonItems(older.height(), newer.height(), same, MaxEdits);
    // A band holding a row that differs in its tiles is a change however short: no seam pairs its rows.
    std::vector<bool> retouched(size_t(newer.height()));
    kept.removeIf([&](const std::pair<int, int> &pair) {
        const bool alike = sameTiles(oldRows, pair.first, newRows, pair.second);
        retouched[size_t(pair.second)] = !alike;
        return !alike;
    });
    kept.append({older.height(), newer.height()});

    int oldAt = 0;
    int newAt = 0;
    QRect band;
    const auto closeBand = [&] {
        if (band.height() >= MinimumBand
            || std::any_of(retouched.begin() + band.top(), retouched.begin() + band.bottom() + 1, std::identity()))
            result.append({ReportChange::Band, band, QString(), QString()});
        band = QRect();
    };
    for (const auto &[oldKept, newKept] : kept) {
        if (newKept > newAt) {
            if (!band.isNull() && newAt - band.bottom() > BandGap)
                closeBand();
            const QRect rows(0, newAt, newer.width(), newKept - newAt);
            band = band.isNull() ? rows : band.united(rows);
        } else if (oldKept - oldAt >= MinimumRemoved && (band.isNull() || newAt - band.bottom() > BandGap)) {
            closeBand();
            result.append({ReportChange::Removed, QRect(0, newAt - 2, newer.width(), 4), QString(), QString()});
        }
        oldAt = oldKept + 1;
        newAt = newKept + 1;
    }
    closeBand();
    return result;
}

} // namespace PictureDiff
