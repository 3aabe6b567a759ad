#pragma once

#include <QString>

// The launch arguments as the business system passes them: up to three
// integers, the second the branch, the third the client code.

// The text without leading and trailing characters of code 32 or below.
QString trimControl(const QString &text);

// A signed 32-bit integer from decimal digits with an optional sign, or from
// hexadecimal digits after "$" or "0x". Throws AppError
// "'<text>' is not a valid integer value" for anything else.
qint32 StrToInt(const QString &text);

struct LaunchArguments
{
    qint32 FilialAtual = 0;
    qint32 CodCliforAtual = 0;
};

// Reads arguments 1 to 3 (arguments[0] is the program) into target. Blank
// arguments count as absent; the first one that does not convert throws, and
// the arguments after it stay unread.
void readLaunchArguments(const QStringList &arguments, LaunchArguments &target);
