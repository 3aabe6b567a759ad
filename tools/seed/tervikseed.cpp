#include "tervikseed.h"

#include "apperror.h"
#include "companyparameters.h"
#include "dbengine.h"

#include <QFile>

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

namespace TervikSeed {

namespace {

void exec(const QSqlDatabase &db, const QString &sql, const QVariantList &values)
{
    QSqlQuery query(db);
    bool ok = query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!ok || !query.exec())
        throw AppError(QStringLiteral("Falha ao gravar dados de exemplo: ") + query.lastError().text());
}

bool isSqlite(const QSqlDatabase &db)
{
    return db.driverName() == QLatin1String("QSQLITE");
}

} // namespace

void createSchema(const QString &alias)
{
    QSqlDatabase db = DbEngine::database(alias, DbEngine::OpenMode::CreateIfMissing);
    const bool pg = db.driverName() == QLatin1String("QPSQL");
    const QString resource
        = pg ? QStringLiteral(":/store/schema/postgresql.sql") : QStringLiteral(":/store/schema/sqlite.sql");
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

void addClient(const QSqlDatabase &db, int filial, int codClifor, const QString &nome, const QString &cgc)
{
    exec(db, QStringLiteral("INSERT INTO clifor (Filial, Cod_Clifor, Sistema, NOME, CGC) VALUES (?, ?, 'C', ?, ?)"),
         {filial, codClifor, nome, cgc});
}

void addParameter(const QSqlDatabase &db, int filial, const QString &key, const QString &value)
{
    exec(db, QStringLiteral("INSERT INTO ParametrosEmpresa (filial, NomeParametro, ValorStr) VALUES (?, ?, ?)"),
         {filial, key, value});
}

void addSiteParameters(const QSqlDatabase &db, int filial, const QString &siteUrl, const QString &user,
                       const QString &password)
{
    // In the order of parameterKeys().
    const QStringList values = {
        siteUrl + QStringLiteral("/"),
        user,
        password,
        QStringLiteral("usuario"),
        QStringLiteral("senha"),
        QStringLiteral("CNPJ"),
        siteUrl + QStringLiteral("/login"),
        siteUrl + QStringLiteral("/cnpj"),
        QStringLiteral("consultar"),
        siteUrl + QStringLiteral("/resultado"),
    };
    const QStringList &keys = parameterKeys();
    for (qsizetype i = 0; i < keys.size(); ++i)
        addParameter(db, filial, keys.at(i), values.at(i));
}

void addArchive(const QSqlDatabase &db, int filial, int codClifor, const QDate &date, const QTime &time,
                const QByteArray &image)
{
    const QVariant dateValue = isSqlite(db) ? QVariant(date.toString(Qt::ISODate)) : QVariant(date);
    const QVariant timeValue = isSqlite(db) ? QVariant(time.toString(QStringLiteral("HH:mm:ss.zzz"))) : QVariant(time);
    exec(db,
         QStringLiteral("INSERT INTO CliforDeveZozuvor (Filial, Cod_Clifor, DataCons, HoraCons, ResultCons) "
                        "VALUES (?, ?, ?, ?, ?)"),
         {filial, codClifor, dateValue, timeValue, image});
}

} // namespace TervikSeed
