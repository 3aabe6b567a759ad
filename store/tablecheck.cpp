#include "tablecheck.h"

#include "apperror.h"
#include "dbengine.h"

#include <QHash>
#include <QMap>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

QString typeName(FieldType type)
{
    switch (type) {
    case FieldType::SmallInt: return QStringLiteral("SmallInt");
    case FieldType::Integer: return QStringLiteral("Integer");
    case FieldType::String: return QStringLiteral("String");
    case FieldType::Date: return QStringLiteral("Date");
    case FieldType::Time: return QStringLiteral("Time");
    case FieldType::Blob: return QStringLiteral("Blob");
    }
    return QString();
}

// SQLite keeps only a declared type text; classify it by SQLite's own
// affinity rules, naming the kinds as for the other engine.
QString sqliteKind(const QString &declared)
{
    const QString t = declared.toUpper();
    if (t.contains(QLatin1String("INT")))
        return t.contains(QLatin1String("BIGINT")) || t.contains(QLatin1String("INT8")) ? QStringLiteral("LargeInt")
                                                                                        : QStringLiteral("Integer");
    if (t.contains(QLatin1String("CHAR")) || t.contains(QLatin1String("CLOB")) || t.contains(QLatin1String("TEXT")))
        return QStringLiteral("String");
    if (t.isEmpty() || t.contains(QLatin1String("BLOB")))
        return QStringLiteral("Blob");
    if (t.contains(QLatin1String("DATETIME")) || t.contains(QLatin1String("TIMESTAMP")))
        return QStringLiteral("DateTime");
    if (t.contains(QLatin1String("DATE")))
        return QStringLiteral("Date");
    if (t.contains(QLatin1String("TIME")))
        return QStringLiteral("Time");
    if (t.contains(QLatin1String("BOOL")))
        return QStringLiteral("Boolean");
    return QStringLiteral("Float");
}

QString metaTypeKind(QMetaType type)
{
    switch (type.id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar: return QStringLiteral("Integer");
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return QStringLiteral("LargeInt");
    case QMetaType::Double:
    case QMetaType::Float: return QStringLiteral("Float");
    case QMetaType::QString:
    case QMetaType::QChar: return QStringLiteral("String");
    case QMetaType::QDate: return QStringLiteral("Date");
    case QMetaType::QTime: return QStringLiteral("Time");
    case QMetaType::QDateTime: return QStringLiteral("DateTime");
    case QMetaType::QByteArray: return QStringLiteral("Blob");
    case QMetaType::Bool: return QStringLiteral("Boolean");
    default: return QString::fromLatin1(type.name());
    }
}

// SQLite stores dates and times as ISO text, so a text column holds them too.
bool compatible(FieldType type, const QString &actual, bool sqlite)
{
    switch (type) {
    case FieldType::SmallInt:
    case FieldType::Integer: return actual == QLatin1String("Integer") || actual == QLatin1String("LargeInt");
    case FieldType::String: return actual == QLatin1String("String");
    case FieldType::Date: return actual == QLatin1String("Date") || (sqlite && actual == QLatin1String("String"));
    case FieldType::Time: return actual == QLatin1String("Time") || (sqlite && actual == QLatin1String("String"));
    case FieldType::Blob: return actual == QLatin1String("Blob");
    }
    return false;
}

class Checker
{
public:
    Checker(const QSqlDatabase &db, const TableDef &def)
        : m_db(db)
        , m_def(def)
        , m_pg(db.driverName() == QLatin1String("QPSQL"))
    { }

    CheckedTable run()
    {
        const QString table = realTableName();
        QSqlDriver *driver = m_db.driver();
        m_quotedTable = driver->escapeIdentifier(table, QSqlDriver::TableName);

        // real name and kind of each column, by lower-case name
        QHash<QString, std::pair<QString, QString>> columns;
        if (m_pg) {
            const QSqlRecord rec = m_db.record(m_quotedTable);
            // An empty record from a connection lost meanwhile lists no missing field.
            if (rec.isEmpty() && !m_db.isOpen())
                throw error(DbEngine::failure(m_db, QSqlError()));
            for (int i = 0; i < rec.count(); ++i)
                columns.insert(rec.fieldName(i).toLower(), {rec.fieldName(i), metaTypeKind(rec.field(i).metaType())});
        } else {
            QSqlQuery q = exec(QStringLiteral("PRAGMA table_info(%1)").arg(m_quotedTable));
            while (q.next())
                columns.insert(q.value(1).toString().toLower(),
                               {q.value(1).toString(), sqliteKind(q.value(2).toString())});
        }

        CheckedTable checked{m_quotedTable, {}};
        QHash<QString, QString> realByField;
        for (const FieldDef &field : m_def.fields) {
            const auto it = columns.constFind(field.name.toLower());
            if (it == columns.constEnd())
                throw error(QStringLiteral("Field '%1' not found").arg(field.name));
            if (!compatible(field.type, it->second, !m_pg))
                throw error(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                                .arg(field.name, typeName(field.type), it->second));
            realByField.insert(field.name.toLower(), it->first);
            checked.columns.append(driver->escapeIdentifier(it->first, QSqlDriver::FieldName));
        }

        QStringList wanted;
        for (const QString &name : m_def.indexFields) {
            if (!realByField.contains(name.toLower()))
                throw error(QStringLiteral("Field '%1' not found").arg(name));
            wanted.append(realByField.value(name.toLower()));
        }
        if (!hasIndexLedBy(wanted))
            throw error(QStringLiteral("No index for fields '%1'").arg(m_def.indexFields.join(QLatin1Char(';'))));
        return checked;
    }

private:
    AppError error(const QString &message) const { return AppError(m_def.component + QStringLiteral(": ") + message); }

    QSqlQuery exec(const QString &sql, const QVariantList &values = {}) const
    {
        QSqlQuery q(m_db);
        q.setForwardOnly(true);
        bool ok = q.prepare(sql);
        for (const QVariant &v : values)
            q.addBindValue(v);
        ok = ok && q.exec();
        if (!ok)
            throw error(DbEngine::failure(m_db, q.lastError()));
        return q;
    }

    // Asked of the catalogue itself, so that one that cannot be read is never
    // told as a missing table.
    QString realTableName() const
    {
        QSqlQuery q = exec(m_pg ? QStringLiteral("SELECT relname FROM pg_class WHERE relkind IN ('r', 'p')"
                                                 " AND pg_table_is_visible(oid) AND lower(relname) = lower(CAST(? AS text))"
                                                 " ORDER BY relname")
                                : QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"
                                                 " AND lower(name) = lower(?) ORDER BY name"),
                           {m_def.table});
        if (q.next())
            return q.value(0).toString();
        if (q.lastError().isValid())
            throw error(DbEngine::failure(m_db, q.lastError()));
        throw error(QStringLiteral("Tabela '%1' não encontrada").arg(m_def.table));
    }

    // Some index of the table (the primary key counts) begins with the wanted columns.
    bool hasIndexLedBy(const QStringList &wanted) const
    {
        if (wanted.isEmpty())
            return true;
        QList<QStringList> indexes;
        if (m_pg) {
            QSqlQuery q
                = exec(QStringLiteral("SELECT (SELECT string_agg(COALESCE(a.attname, ''), ';' ORDER BY k.ord)"
                                      " FROM unnest(CAST(i.indkey AS int2[])) WITH ORDINALITY AS k(attnum, ord)"
                                      " LEFT JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum)"
                                      " FROM pg_index i WHERE i.indrelid = CAST(? AS regclass)"),
                       {m_quotedTable});
            while (q.next())
                indexes.append(q.value(0).toString().split(QLatin1Char(';')));
        } else {
            QStringList names;
            QSqlQuery list = exec(QStringLiteral("PRAGMA index_list(%1)").arg(m_quotedTable));
            while (list.next())
                names.append(list.value(1).toString());
            for (const QString &name : std::as_const(names)) {
                QSqlQuery info = exec(QStringLiteral("PRAGMA index_info(%1)")
                                          .arg(m_db.driver()->escapeIdentifier(name, QSqlDriver::TableName)));
                QStringList columns;
                while (info.next())
                    columns.append(info.value(2).toString());
                indexes.append(columns);
            }
            QSqlQuery info = exec(QStringLiteral("PRAGMA table_info(%1)").arg(m_quotedTable));
            QMap<int, QString> primaryKey;
            while (info.next()) {
                if (info.value(5).toInt() > 0)
                    primaryKey.insert(info.value(5).toInt(), info.value(1).toString());
            }
            indexes.append(primaryKey.values());
        }

        for (const QStringList &columns : std::as_const(indexes)) {
            if (columns.size() < wanted.size())
                continue;
            bool leads = true;
            for (qsizetype i = 0; i < wanted.size() && leads; ++i)
                leads = columns.at(i).compare(wanted.at(i), Qt::CaseInsensitive) == 0;
            if (leads)
                return true;
        }
        return false;
    }

    const QSqlDatabase &m_db;
    const TableDef &m_def;
    const bool m_pg;
    QString m_quotedTable;
};

} // namespace

CheckedTable checkTable(const QSqlDatabase &db, const TableDef &def)
{
    return Checker(db, def).run();
}

QString rangeError(const FieldDef &field, qint64 value)
{
    const qint64 lo = field.type == FieldType::SmallInt ? -32768 : -2147483648LL;
    const qint64 hi = field.type == FieldType::SmallInt ? 32767 : 2147483647LL;
    if (value >= lo && value <= hi)
        return QString();
    const auto g = [](qint64 v) { return QString::asprintf("%g", double(v)); };
    return QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
        .arg(g(value), field.name, g(lo), g(hi));
}
