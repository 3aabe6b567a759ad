#pragma once

#include <QByteArray>
#include <QString>

// The text in Windows-1252, the single-byte encoding of the PDF's base fonts:
// every Latin-1 letter, the euro sign, typographic quotes and dashes. Any other
// character, and any control character, comes out as "?" or a space.
QByteArray toWinAnsi(const QString &text);
