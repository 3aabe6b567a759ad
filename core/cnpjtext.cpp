#include "cnpjtext.h"

#include <array>

namespace {

constexpr qsizetype CnpjLength = 14;
constexpr qsizetype CnpjBaseLength = 12;

// Modulo 11 over the first `count` values, weighted 2 to 9 from the right and again from 2.
int cnpjCheckDigit(const std::array<int, CnpjLength> &values, qsizetype count)
{
    int sum = 0;
    for (qsizetype i = 0; i < count; ++i)
        sum += values[i] * int(2 + (count - 1 - i) % 8);
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

// ASCII only: QChar::toUpper() would also turn dotless i or long s into I and S.
char16_t asciiUpper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? char16_t(c - u'a' + u'A') : c;
}

QString asciiUpper(const QString &text)
{
    QString upper = text;
    for (QChar &c : upper)
        c = QChar(asciiUpper(c.unicode()));
    return upper;
}

} // namespace

QString ExtraiDigitos(const QString &text)
{
    QString digits;
    digits.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() >= u'0' && c.unicode() <= u'9')
            digits.append(c);
    }
    return digits;
}

QString FormataCnpj(const QString &cnpj)
{
    const QString text = asciiUpper(cnpj);
    return text.mid(0, 2) + u'.' + text.mid(2, 3) + u'.' + text.mid(5, 3) + u'/' + text.mid(8, 4) + u'-'
           + text.mid(12, 2);
}

QString captureFileName(const QString &cnpj)
{
    QString name;
    for (const QChar c : asciiUpper(cnpj)) {
        if ((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z'))
            name.append(c);
    }
    return name;
}

bool isValidCnpj(const QString &text)
{
    if (text.size() != CnpjLength)
        return false;
    std::array<int, CnpjLength> values{};
    for (qsizetype i = 0; i < CnpjLength; ++i) {
        const char16_t c = asciiUpper(text[i].unicode());
        const bool digit = c >= u'0' && c <= u'9';
        const bool letter = c >= u'A' && c <= u'Z' && i < CnpjBaseLength;
        if (!digit && !letter)
            return false;
        values[i] = c - u'0'; // A is 17, Z is 42
    }
    return cnpjCheckDigit(values, CnpjBaseLength) == values[CnpjBaseLength]
           && cnpjCheckDigit(values, CnpjBaseLength + 1) == values[CnpjBaseLength + 1];
}
