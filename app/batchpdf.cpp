#include "batchpdf.h"

#include "apperror.h"
#include "reportpdf.h"

#include <QDir>
#include <QFile>

QString writeStoredReportPdf(const QString &folder, const Client &client, const ArchiveEntry &entry,
                             const QString &captureFile)
{
    const ReportInfo info{QString::number(client.codClifor), client.nome, client.cgc, entry.date, entry.time};
    QFile capture(captureFile);
    if (!capture.open(QIODevice::ReadOnly))
        return QDir::toNativeSeparators(captureFile) + QStringLiteral(": ") + capture.errorString();
    try {
        ReportPdf::save(QDir(folder).filePath(info.suggestedFileName(QStringLiteral("pdf"))), capture.readAll(), info);
    } catch (const AppError &error) {
        return error.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("memória insuficiente");
    }
    return QString();
}
