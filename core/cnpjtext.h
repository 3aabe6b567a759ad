#pragma once

#include <QByteArray>
#include <QString>

// The two forms of a client's CNPJ, both made from the text the client panel
// shows. The business database holds single-byte text, so both work byte-wise.

// Only the ASCII digits 0-9, in their order; every other byte is dropped.
QString ExtraiDigitos(const QString &text);

// The text in capitals (ASCII letters only), cut by position into NN.NNN.NNN/NNNN-NN;
// pieces past the end are empty or short, characters from the 15th on are
// dropped, separators always present.
QString FormataCnpj(const QString &text);

// The name of the CNPJ's capture file: its ASCII digits and letters, in order,
// letters in capitals. A numeric CNPJ is named by its digits, as ExtraiDigitos
// gives them; an alphanumeric one by its 14 characters, so no two share a file.
QString captureFileName(const QString &cnpj);

// True when the text, exactly as the client record holds it, is a CNPJ the bureau
// can be asked about: 14 characters, the first 12 in 0-9 or A-Z (a-z counts as its
// capital), the last 2 digits, both modulo-11 check digits right. Nothing is trimmed
// or stripped: the record's text is what gets punctuated and sent.
bool isValidCnpj(const QString &text);
