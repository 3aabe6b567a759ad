#include "cnpjtext.h"

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

QString FormataCnpj(const QString &text)
{
    return text.mid(0, 2) + u'.' + text.mid(2, 3) + u'.' + text.mid(5, 3) + u'/' + text.mid(8, 4) + u'-'
        + text.mid(12, 2);
}
