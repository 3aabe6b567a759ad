#include "leparametro.h"

#include "apperror.h"
#include "companyparameters.h"
#include "messagebox.h"

QString LeParametro(const QString &databaseName, const QString &branch, const QString &key)
{
    try {
        return readParameter(databaseName, branch, key);
    } catch (const AppError &error) {
        MessageBox::plain(QStringLiteral("Erro na leitura de parametro : ") + error.message());
    }
    return {};
}
