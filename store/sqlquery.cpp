#include "sqlquery.h"

#include "apperror.h"
#include "dbengine.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

SqlQuery::SqlQuery(const QString &alias)
    : m_alias(alias)
{
}

SqlQuery::~SqlQuery() = default;

void SqlQuery::setSql(const QString &sql)
{
    close();
    m_sql = sql;
}

void SqlQuery::open()
{
    close();
    auto query = std::make_unique<QSqlQuery>(DbEngine::database(m_alias));
    query->setForwardOnly(true);
    if (!query->exec(m_sql))
        throw AppError(query->lastError().text());
    m_hasRow = query->next();
    if (!m_hasRow && query->lastError().isValid())
        throw AppError(query->lastError().text());
    m_query = std::move(query);
}

void SqlQuery::close()
{
    m_query.reset();
    m_hasRow = false;
}

bool SqlQuery::isActive() const
{
    return m_query != nullptr;
}

QString SqlQuery::fieldAsString(const QString &column) const
{
    if (!m_query)
        throw AppError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    const int i = m_query->record().indexOf(column);
    if (i < 0)
        throw AppError(QStringLiteral("Field '%1' not found").arg(column));
    if (!m_hasRow)
        return QString();
    const QVariant v = m_query->value(i);
    return v.isNull() ? QString() : v.toString();
}
