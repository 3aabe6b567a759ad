#include "launcharguments.h"

#include "apperror.h"

#include <QStringList>

QString trimControl(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 32)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 32)
        --end;
    return text.mid(begin, end - begin);
}

qint32 StrToInt(const QString &text)
{
    const auto invalid = [&text] { return AppError(QStringLiteral("'%1' is not a valid integer value").arg(text)); };

    qsizetype pos = 0;
    bool negative = false;
    if (pos < text.size() && (text.at(pos) == u'+' || text.at(pos) == u'-')) {
        negative = text.at(pos) == u'-';
        ++pos;
    }

    int base = 10;
    if (text.mid(pos, 1) == u"$") {
        base = 16;
        pos += 1;
    } else if (text.mid(pos, 2).compare(u"0x", Qt::CaseInsensitive) == 0) {
        base = 16;
        pos += 2;
    }

    const QString digits = text.mid(pos);
    if (digits.isEmpty())
        throw invalid();
    quint64 magnitude = 0;
    for (const QChar c : digits) {
        const char16_t u = c.unicode();
        int digit = -1;
        if (u >= u'0' && u <= u'9')
            digit = u - u'0';
        else if (base == 16 && u >= u'a' && u <= u'f')
            digit = u - u'a' + 10;
        else if (base == 16 && u >= u'A' && u <= u'F')
            digit = u - u'A' + 10;
        if (digit < 0)
            throw invalid();
        magnitude = magnitude * base + digit;
        if (magnitude > 0xFFFFFFFFull)
            throw invalid();
    }

    if (base == 16) {
        // Hexadecimal digits give the 32-bit pattern, so $FFFFFFFF is -1.
        const auto value = static_cast<qint32>(static_cast<quint32>(magnitude));
        return negative ? -value : value;
    }
    if (negative) {
        if (magnitude > 0x80000000ull)
            throw invalid();
        return static_cast<qint32>(-static_cast<qint64>(magnitude));
    }
    if (magnitude > 0x7FFFFFFFull)
        throw invalid();
    return static_cast<qint32>(magnitude);
}

void readLaunchArguments(const QStringList &arguments, LaunchArguments &target)
{
    for (int number = 1; number <= 3; ++number) {
        const QString text = trimControl(arguments.value(number));
        if (text.isEmpty())
            continue;
        const qint32 value = StrToInt(text);
        if (number == 2)
            target.FilialAtual = value;
        else if (number == 3)
            target.CodCliforAtual = value;
    }
}

bool isBatchLaunch(const QStringList &arguments)
{
    return arguments.value(1) == u"--lote";
}

// Where the branch stands: after "--lote", or after "--lote --pdf PASTA".
static qsizetype batchBranchIndex(const QStringList &arguments)
{
    return arguments.value(2) == u"--pdf" ? 4 : 2;
}

bool batchClientsFromInput(const QStringList &arguments)
{
    return arguments.size() == batchBranchIndex(arguments) + 1;
}

BatchArguments readBatchArguments(const QStringList &arguments, const QString &input)
{
    const auto integer = [](const QString &what, const QString &text) {
        try {
            return StrToInt(trimControl(text));
        } catch (const AppError &) {
            throw AppError(QStringLiteral("%1 não é um número: '%2'").arg(what, text));
        }
    };
    const qsizetype branchAt = batchBranchIndex(arguments);
    if (arguments.size() <= branchAt || (branchAt > 2 && arguments.at(3).isEmpty()))
        throw AppError(QStringLiteral("uso: DeveZozuvor --lote [--pdf PASTA] FILIAL [CLIENTE ...]"));
    BatchArguments batch;
    batch.branch = integer(QStringLiteral("a filial"), arguments.at(branchAt));
    batch.pdfFolder = branchAt > 2 ? arguments.at(3) : QString();
    QStringList codes = arguments.mid(branchAt + 1);
    if (codes.isEmpty()) {
        for (const QString &line : input.split(u'\n')) {
            const QString code = trimControl(line);
            if (!code.isEmpty() && !code.startsWith(u'#'))
                codes.append(code);
        }
    }
    for (const QString &code : codes)
        batch.clients.append(integer(QStringLiteral("o cliente"), code));
    if (batch.clients.isEmpty())
        throw AppError(QStringLiteral("nenhum cliente para consultar"));
    return batch;
}
