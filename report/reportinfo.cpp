#include "reportinfo.h"

#include "cnpjtext.h"

#include <QStringList>

QString ReportInfo::suggestedFileName(const QString &suffix) const
{
    // Letters kept: two alphanumeric CNPJs must not share a name.
    const QString name = captureFileName(cnpj);
    QStringList parts{name.isEmpty() ? QStringLiteral("consulta") : name};
    if (queryDate.isValid())
        parts.append(queryDate.toString(QStringLiteral("yyyyMMdd")));
    if (queryTime.isValid())
        parts.append(queryTime.toString(QStringLiteral("HHmmss")));
    return parts.join(u'_') + u'.' + suffix;
}

QString ReportInfo::queryDateTimeText() const
{
    QStringList parts;
    if (queryDate.isValid())
        parts.append(queryDate.toString(QStringLiteral("dd/MM/yyyy")));
    if (queryTime.isValid())
        parts.append(queryTime.toString(QStringLiteral("HH:mm:ss")));
    return parts.join(u' ');
}

ReportInfo::PageHeading ReportInfo::pageHeading(int page, int pageCount) const
{
    return {QStringLiteral("Cliente ") + clientCode + QStringLiteral(" - ") + clientName,
            QStringLiteral("Página %1 de %2").arg(page).arg(pageCount), QStringLiteral("CNPJ ") + cnpj,
            QStringLiteral("Consulta de ") + queryDateTimeText()};
}

QString ReportInfo::documentTitle() const
{
    return QStringLiteral("Consulta Equifax - Cliente %1 - %2 - CNPJ %3 - %4")
        .arg(clientCode, clientName, cnpj, queryDateTimeText());
}
