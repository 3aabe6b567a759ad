#pragma once

#include <QString>

#include <memory>

class QSqlQuery;

// A read-only SQL statement on a database alias, standing on its first row
// once opened.
class SqlQuery
{
public:
    explicit SqlQuery(const QString &alias);
    ~SqlQuery();
    SqlQuery(const SqlQuery &) = delete;
    SqlQuery &operator=(const SqlQuery &) = delete;

    void setSql(const QString &sql);
    QString sql() const { return m_sql; }
    void open();
    void close();
    bool isActive() const;
    bool hasRow() const { return m_hasRow; }
    // Empty for no row or NULL; a column absent from the result is an error.
    QString fieldAsString(const QString &column) const;

private:
    QString m_alias;
    QString m_sql;
    std::unique_ptr<QSqlQuery> m_query;
    bool m_hasRow = false;
};
