#pragma once

#include <QString>
#include <QStringList>

// Column ValorStr of the parameter's first row, untrimmed; empty when there is
// no row or the value is NULL. Any engine failure is thrown.
QString readParameter(const QString &alias, const QString &branch, const QString &key);

// The ten parameters the tool reads, in the order it reads them.
const QStringList &parameterKeys();
