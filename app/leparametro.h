#pragma once

#include <QString>

// One company parameter of the branch; a failed read is reported in a plain
// box and yields an empty value, so start-up goes on with the next key.
QString LeParametro(const QString &databaseName, const QString &branch, const QString &key);
