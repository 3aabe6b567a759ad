#include "leparametro.h"

#include "apperror.h"
#include "companyparameters.h"
#include "databasethread.h"
#include "logcategories.h"
#include "messagebox.h"

QString LeParametro(DatabaseThread &database, const QString &databaseName, const QString &branch, const QString &key)
{
    try {
        return database.run(QStringLiteral("leitura do parâmetro %1").arg(key),
                            [databaseName, branch, key] { return readParameter(databaseName, branch, key); });
    } catch (const AppError &error) {
        qCWarning(lcStore).noquote() << QStringLiteral("filial %1: parâmetro %2 não lido:").arg(branch, key)
                                     << error.message();
        MessageBox::plain(QStringLiteral("Erro na leitura de parametro : ") + error.message());
    }
    return {};
}
