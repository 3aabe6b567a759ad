#include "companyparameters.h"

#include "apperror.h"
#include "dbengine.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// The statement that reads one per-branch parameter; the key is quoted as an
// SQL string literal, the branch goes in as given.
QString parameterStatement(const QString &branch, const QString &key)
{
    QString quoted = key;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QStringLiteral("Select *from ParametrosEmpresa where filial=") + branch
           + QStringLiteral(" and NomeParametro='") + quoted + QLatin1Char('\'');
}

} // namespace

QString readParameter(const QString &alias, const QString &branch, const QString &key)
{
    const QSqlDatabase db = DbEngine::database(alias);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(parameterStatement(branch, key)))
        throw AppError(DbEngine::failure(db, query.lastError()));
    const bool hasRow = query.next();
    if (!hasRow && query.lastError().isValid())
        throw AppError(DbEngine::failure(db, query.lastError()));
    const int column = query.record().indexOf(QStringLiteral("ValorStr"));
    if (column < 0)
        throw AppError(QStringLiteral("Field 'ValorStr' not found"));
    return hasRow ? query.value(column).toString() : QString();
}

const QStringList &parameterKeys()
{
    static const QStringList keys = {
        QStringLiteral("eEquifaxAutoURLConsulta"),     QStringLiteral("eEquifaxAutoIdUsu"),
        QStringLiteral("eEquifaxAutoSenhaUsu"),        QStringLiteral("eEquifaxAutoTagUsu"),
        QStringLiteral("eEquifaxAutoTagSenhaUsu"),     QStringLiteral("eEquifaxAutoTagTipoCons"),
        QStringLiteral("eEquifaxAutoURLPagLogin"),     QStringLiteral("eEquifaxAutoURLPagPreencheCnpj"),
        QStringLiteral("eEquifaxAutoTagBotaoCnsCnpj"), QStringLiteral("eEquifaxAutoURLResultConsulta"),
    };
    return keys;
}
