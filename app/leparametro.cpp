#include "leparametro.h"

#include "apperror.h"
#include "companyparameters.h"
#include "databasethread.h"
#include "messagebox.h"

QString LeParametro(DatabaseThread &database, const QString &databaseName, const QString &branch, const QString &key)
{
    try {
        return database.run(QStringLiteral("leitura do parâmetro %1").arg(key),
                            [databaseName, branch, key] { return readParameter(databaseName, branch, key); });
    } catch (const AppError &error) {
        MessageBox::plain(QStringLiteral("Erro na leitura de parametro : ") + error.message());
    }
    return {};
}
