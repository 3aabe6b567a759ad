#include "companyparameters.h"

#include "sqlquery.h"

QString parameterStatement(const QString &branch, const QString &key)
{
    QString quoted = key;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    return QStringLiteral("Select *from ParametrosEmpresa where filial=") + branch
           + QStringLiteral(" and NomeParametro='") + quoted + QLatin1Char('\'');
}

QString readParameter(const QString &alias, const QString &branch, const QString &key)
{
    SqlQuery query(alias);
    query.setSql(parameterStatement(branch, key));
    query.open();
    return query.fieldAsString(QStringLiteral("ValorStr"));
}

const QStringList &parameterKeys()
{
    static const QStringList keys = {
        QStringLiteral("eEquifaxAutoURLConsulta"),
        QStringLiteral("eEquifaxAutoIdUsu"),
        QStringLiteral("eEquifaxAutoSenhaUsu"),
        QStringLiteral("eEquifaxAutoTagUsu"),
        QStringLiteral("eEquifaxAutoTagSenhaUsu"),
        QStringLiteral("eEquifaxAutoTagTipoCons"),
        QStringLiteral("eEquifaxAutoURLPagLogin"),
        QStringLiteral("eEquifaxAutoURLPagPreencheCnpj"),
        QStringLiteral("eEquifaxAutoTagBotaoCnsCnpj"),
        QStringLiteral("eEquifaxAutoURLResultConsulta"),
    };
    return keys;
}
