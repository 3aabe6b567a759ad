#include "tervikschema.h"

#include "apperror.h"
#include "dbengine.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

void createSchema(const QString &alias)
{
    QSqlDatabase db = DbEngine::database(alias, DbEngine::OpenMode::CreateIfMissing);
    const bool pg = DbEngine::driverOf(alias) == DbEngine::Driver::PostgreSQL;
    const QString resource = pg ? QStringLiteral(":/store/schema/postgresql.sql") : QStringLiteral(":/store/schema/sqlite.sql");
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Não foi possível ler o esquema '%1': %2").arg(resource, file.errorString()));

    QStringList statements;
    QString current;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        if (line.trimmed().startsWith(QLatin1String("--")))
            continue;
        current += line + QLatin1Char('\n');
        if (line.trimmed().endsWith(QLatin1Char(';'))) {
            statements.append(current.trimmed());
            current.clear();
        }
    }

    const auto fail = [&alias](const QSqlQuery &q) {
        return AppError(QStringLiteral("Não foi possível criar as tabelas no banco de dados '%1': %2")
                            .arg(alias, q.lastError().text()));
    };
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN")))
        throw fail(q);
    for (const QString &sql : std::as_const(statements)) {
        if (!q.exec(sql)) {
            const AppError e = fail(q);
            q.exec(QStringLiteral("ROLLBACK"));
            throw e;
        }
    }
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const AppError e = fail(q);
        q.exec(QStringLiteral("ROLLBACK"));
        throw e;
    }
}
