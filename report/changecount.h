#pragma once

#include <QByteArray>

#include <optional>

// How many changes the newer report has against the older one, counted by
// their text layers as the comparison by text lists them; none when either
// report has no text.
std::optional<int> textChangeCount(const QByteArray &olderJpeg, const QByteArray &newerJpeg);
