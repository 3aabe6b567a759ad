#pragma once

#include <QDate>
#include <QString>
#include <QTime>

// Who and when an archived report belongs to, as the window shows it: it heads
// every printed or exported page, names the saved file and titles the PDF.
struct ReportInfo
{
    QString clientCode;
    QString clientName;
    QString cnpj; // as the client panel shows it
    QDate queryDate;
    QTime queryTime;

    // The four texts that head a page: left and right on the first line, then on the second.
    struct PageHeading
    {
        QString client;
        QString page;
        QString cnpj;
        QString query;
    };

    // The CNPJ, date and time of the query with the suffix: "11222333000181_20260304_140506.jpg".
    QString suggestedFileName(const QString &suffix = QStringLiteral("jpg")) const;
    // dd/MM/yyyy HH:mm:ss, whatever the system's formats: printed reports travel.
    QString queryDateTimeText() const;
    PageHeading pageHeading(int page, int pageCount) const;
    // "Consulta Equifax - Cliente 1001 - Nome - CNPJ 11.222.333/0001-81 - 04/03/2026 14:05:06".
    QString documentTitle() const;
};
