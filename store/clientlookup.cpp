#include "clientlookup.h"

#include "apperror.h"
#include "dbengine.h"
#include "tablecheck.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

const TableDef &cliforTable()
{
    static const TableDef def{
        QStringLiteral("TClifor"),
        QStringLiteral("clifor"),
        {
            {QStringLiteral("Filial"), FieldType::SmallInt},
            {QStringLiteral("Cod_Clifor"), FieldType::Integer},
            {QStringLiteral("Sistema"), FieldType::String},
            {QStringLiteral("NOME"), FieldType::String},
            {QStringLiteral("CGC"), FieldType::String},
        },
        {QStringLiteral("Filial"), QStringLiteral("Cod_Clifor")},
    };
    return def;
}

enum Field { Filial, CodClifor, Sistema, Nome, Cgc };

} // namespace

std::optional<Client> findClient(qint64 filial, qint64 codClifor)
{
    const TableDef &def = cliforTable();
    // The first statement of a job: a connection lost since the last is opened again here.
    const QSqlDatabase db = DbEngine::answering(QStringLiteral("tervik"));
    const CheckedTable t = checkTable(db, def);
    for (const auto &[field, value] : {std::pair{Filial, filial}, std::pair{CodClifor, codClifor}}) {
        const QString range = rangeError(def.fields.at(field), value);
        if (!range.isEmpty())
            throw AppError(range);
    }

    const auto engineError = [&def, &db](const QSqlQuery &q) {
        return AppError(def.component + QStringLiteral(": não foi possível ler o cliente: ")
                        + DbEngine::failure(db, q.lastError()));
    };
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT %1, %2, %3, %4 FROM %5 WHERE %1 = ? AND %2 = ?")
                       .arg(t.column(Filial), t.column(CodClifor), t.column(Nome), t.column(Cgc), t.table)))
        throw engineError(q);
    q.addBindValue(int(filial));
    q.addBindValue(int(codClifor));
    if (!q.exec())
        throw engineError(q);
    if (!q.next()) {
        if (q.lastError().isValid())
            throw engineError(q);
        return std::nullopt;
    }
    return Client{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString(), q.value(3).toString()};
}
