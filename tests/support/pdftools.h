#pragma once

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

// poppler's tools (poppler-utils) on a written PDF.
namespace PdfTools {

using namespace Qt::StringLiterals;

// The tool's standard output, or a line saying why it gave none.
inline QString run(const char *program, const QStringList &arguments)
{
    QProcess process;
    process.start(QString::fromLocal8Bit(program), arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return u"FAILED %1: %2"_s.arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The first page's first image as the file holds it (pdfimages -j).
inline QByteArray firstImage(const QString &pdf)
{
    QTemporaryDir folder;
    run(PDFIMAGES_EXE, {u"-j"_s, u"-l"_s, u"1"_s, pdf, folder.filePath(u"img"_s)});
    QFile image(folder.filePath(u"img-000.jpg"_s));
    return image.open(QIODevice::ReadOnly) ? image.readAll() : QByteArray();
}

// pdfinfo's field, "Pages" or "Title".
inline QString info(const QString &pdf, const QString &field)
{
    return QRegularExpression(field + u":\\s*(.*)\n"_s).match(run(PDFINFO_EXE, {pdf})).captured(1);
}

// The text of one page (from 1), as pdftotext reads it.
inline QString pageText(const QString &pdf, int page)
{
    const QString number = QString::number(page);
    return run(PDFTOTEXT_EXE, {u"-f"_s, number, u"-l"_s, number, u"-enc"_s, u"UTF-8"_s, pdf, u"-"_s});
}

} // namespace PdfTools
