#include "winansi.h"

#include <array>

namespace {

// What Windows-1252 puts at 0x80..0x9F; 0 where it puts nothing.
constexpr std::array<char16_t, 32> High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char winAnsi(char16_t c)
{
    if (c < 0x20 || c == 0x7F)
        return ' ';
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (std::size_t i = 0; i < High.size(); ++i) {
        if (High[i] == c)
            return char(0x80 + i);
    }
    if (c == 0x2212) // the minus sign
        return '-';
    return '?';
}

} // namespace

QByteArray toWinAnsi(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    // A character outside the basic plane is one "?", not two.
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        bytes.append(winAnsi(text.at(i).unicode()));
    }
    return bytes;
}
