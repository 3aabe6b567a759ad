#include "leparametro.h"

#include "apperror.h"
#include "companyparameters.h"
#include "logcategories.h"
#include "messagebox.h"

ParameterRead LeParametro(const QString &databaseName, const QString &branch, const QString &key) noexcept
{
    try {
        return {readParameter(databaseName, branch, key), {}};
    } catch (...) {
        return {{}, currentFailureMessage()};
    }
}

void reportParameterFailure(const QString &branch, const QString &key, const QString &failure)
{
    qCWarning(lcStore).noquote() << QStringLiteral("filial %1: parâmetro %2 não lido:").arg(branch, key) << failure;
    MessageBox::plain(QStringLiteral("Erro na leitura de parametro : ") + failure);
}

QList<ParameterRead> readSiteParameters(const QString &branch)
{
    QList<ParameterRead> reads;
    for (const QString &key : parameterKeys())
        reads.append(LeParametro(QStringLiteral("Tervik"), branch, key));
    return reads;
}
