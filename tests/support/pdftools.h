#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

// poppler's tools (poppler-utils) on a written PDF.
namespace PdfTools {

// The tool's standard output, or a line saying why it gave none.
inline QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("FAILED %1: %2").arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The first page's first image as the file holds it (pdfimages -j).
inline QByteArray firstImage(const QString &pdf)
{
    QTemporaryDir folder;
    run(QStringLiteral(PDFIMAGES_EXE), {QStringLiteral("-j"), QStringLiteral("-l"), QStringLiteral("1"), pdf,
                                        folder.filePath(QStringLiteral("img"))});
    QFile image(folder.filePath(QStringLiteral("img-000.jpg")));
    return image.open(QIODevice::ReadOnly) ? image.readAll() : QByteArray();
}

// pdfinfo's field, "Pages" or "Title".
inline QString info(const QString &pdf, const QString &field)
{
    const QRegularExpression line(QRegularExpression::escape(field) + QStringLiteral(":\\s*(.*)\n"));
    return line.match(run(QStringLiteral(PDFINFO_EXE), {pdf})).captured(1);
}

// The text of one page (from 1), as pdftotext reads it.
inline QString pageText(const QString &pdf, int page)
{
    const QString number = QString::number(page);
    return run(QStringLiteral(PDFTOTEXT_EXE), {QStringLiteral("-f"), number, QStringLiteral("-l"), number,
                                               QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf,
                                               QStringLiteral("-")});
}

} // namespace PdfTools
