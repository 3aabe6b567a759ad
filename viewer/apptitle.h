#pragma once

#include <QString>

// The application title: the program file's name without its directory, cut
// at its first ".", every character after the first in lower case.
QString applicationTitle(const QString &programPath);
