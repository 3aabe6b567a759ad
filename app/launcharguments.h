#pragma once

#include <QList>
#include <QString>
#include <QStringList>

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

// "--lote [--pdf PASTA] BRANCH [CLIENT ...]": the branch and the client codes
// of an unattended run, in their order, and where each stored report's PDF goes.
struct BatchArguments
{
    qint32 branch = 0;
    QList<qint32> clients;
    QString pdfFolder; // empty: no PDF
};

// True when arguments[1] is "--lote".
bool isBatchLaunch(const QStringList &arguments);

// True when the arguments name no client: the clients are the lines of input.
bool batchClientsFromInput(const QStringList &arguments);

// Reads the branch and the clients after "--lote"; with no client there, the
// codes are the lines of input, blank lines and lines starting with "#"
// skipped. Throws AppError naming what is wrong, or that no client was given.
BatchArguments readBatchArguments(const QStringList &arguments, const QString &input);
