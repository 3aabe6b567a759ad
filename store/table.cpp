#include "table.h"

#include "blobstream.h"
#include "dbengine.h"

#include <QBuffer>
#include <QDate>
#include <QLocale>
#include <QMetaType>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTime>
#include <QtDebug>

#include <cmath>

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
// affinity rules, naming the kinds the way the engine-neutral check does.
QString sqliteTypeName(const QString &declared)
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

QString metaTypeName(QMetaType type)
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
    case QMetaType::UChar:
        return QStringLiteral("Integer");
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QStringLiteral("LargeInt");
    case QMetaType::Double:
    case QMetaType::Float:
        return QStringLiteral("Float");
    case QMetaType::QString:
    case QMetaType::QChar:
        return QStringLiteral("String");
    case QMetaType::QDate:
        return QStringLiteral("Date");
    case QMetaType::QTime:
        return QStringLiteral("Time");
    case QMetaType::QDateTime:
        return QStringLiteral("DateTime");
    case QMetaType::QByteArray:
        return QStringLiteral("Blob");
    case QMetaType::Bool:
        return QStringLiteral("Boolean");
    default:
        return QString::fromLatin1(type.name());
    }
}

bool compatible(FieldType type, const QString &actual, bool sqlite)
{
    switch (type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
        return actual == QLatin1String("Integer") || actual == QLatin1String("LargeInt");
    case FieldType::String:
        return actual == QLatin1String("String");
    case FieldType::Date:
        return actual == QLatin1String("Date") || (sqlite && actual == QLatin1String("String"));
    case FieldType::Time:
        return actual == QLatin1String("Time") || (sqlite && actual == QLatin1String("String"));
    case FieldType::Blob:
        return actual == QLatin1String("Blob");
    }
    return false;
}

QString cFormatG(double value)
{
    return QString::asprintf("%g", value);
}

QMetaType nullTypeOf(FieldType type, bool pg)
{
    switch (type) {
    case FieldType::SmallInt:
    case FieldType::Integer: return QMetaType::fromType<int>();
    case FieldType::String: return QMetaType::fromType<QString>();
    case FieldType::Date: return pg ? QMetaType::fromType<QDate>() : QMetaType::fromType<QString>();
    case FieldType::Time: return pg ? QMetaType::fromType<QTime>() : QMetaType::fromType<QString>();
    case FieldType::Blob: return QMetaType::fromType<QByteArray>();
    }
    return QMetaType();
}

// The system's long time format without its time-zone token.
QString longTimeFormatWithoutZone()
{
    const QString format = QLocale::system().timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.simplified();
}

} // namespace

Table::Table(const QString &componentName, QObject *parent)
    : QObject(parent)
{
    setObjectName(componentName);
}

Table::~Table()
{
    rollback();
}

void Table::setDatabaseName(const QString &alias)
{
    requireNotActive();
    m_alias = alias;
}

void Table::setTableName(const QString &name)
{
    requireNotActive();
    m_tableName = name;
}

void Table::setFieldDefs(const QList<FieldDef> &fields)
{
    requireNotActive();
    m_fields = fields;
}

void Table::setIndexFieldNames(const QString &fields)
{
    requireNotActive();
    m_indexFieldNames = fields;
}

void Table::setMasterSource(Table *master, const QString &masterFields)
{
    requireNotActive();
    if (m_master)
        disconnect(m_master, &Table::dataChanged, this, &Table::onMasterChanged);
    m_master = master;
    m_masterFields = masterFields.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString &f : m_masterFields)
        f = f.trimmed();
    if (m_master)
        connect(m_master, &Table::dataChanged, this, &Table::onMasterChanged);
}

// ---------------------------------------------------------------- helpers

AppError Table::error(const QString &message) const
{
    return AppError(objectName() + QStringLiteral(": ") + message);
}

AppError Table::engineError(const QSqlQuery &query) const
{
    return error(query.lastError().text());
}

void Table::requireActive() const
{
    if (!isActive())
        throw error(QStringLiteral("Cannot perform this operation on a closed dataset"));
}

void Table::requireNotActive() const
{
    if (isActive())
        throw error(QStringLiteral("Cannot perform this operation on an open dataset"));
}

int Table::fieldIndex(const QString &field) const
{
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).name.compare(field, Qt::CaseInsensitive) == 0)
            return i;
    }
    throw error(QStringLiteral("Field '%1' not found").arg(field));
}

QSqlQuery Table::prepare(const QString &sql) const
{
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) {
        const AppError e = engineError(q);
        rollback();
        throw e;
    }
    return q;
}

// A failed statement ends the write transaction at once, while the statement
// still exists: PostgreSQL refuses everything else in an aborted transaction,
// including freeing the statement.
void Table::exec(QSqlQuery &query) const
{
    if (!query.exec()) {
        const AppError e = engineError(query);
        rollback();
        throw e;
    }
}

void Table::execPlain(const QString &sql) const
{
    QSqlQuery q(m_db);
    if (!q.exec(sql))
        throw engineError(q);
}

QString Table::addressColumn() const
{
    return m_pg ? QStringLiteral("ctid") : QStringLiteral("rowid");
}

QString Table::addressSelect() const
{
    return m_pg ? QStringLiteral("CAST(ctid AS text)") : QStringLiteral("rowid");
}

QString Table::addressMatch() const
{
    return m_pg ? QStringLiteral("ctid = CAST(? AS tid)") : QStringLiteral("rowid = ?");
}

// ---------------------------------------------------------------- open/close

void Table::resolve()
{
    m_db = DbEngine::database(m_alias);
    m_pg = m_db.driverName() == QLatin1String("QPSQL");
    QSqlDriver *driver = m_db.driver();

    m_realTable.clear();
    const QStringList tables = m_db.tables(QSql::Tables);
    for (const QString &t : tables) {
        if (t.compare(m_tableName, Qt::CaseInsensitive) == 0) {
            m_realTable = t;
            break;
        }
    }
    if (m_realTable.isEmpty()) {
        if (m_db.lastError().isValid())
            throw error(m_db.lastError().text());
        throw error(QStringLiteral("Tabela '%1' não encontrada").arg(m_tableName));
    }
    m_quotedTable = driver->escapeIdentifier(m_realTable, QSqlDriver::TableName);

    // real column name and engine-neutral kind, by lower-case name
    QHash<QString, std::pair<QString, QString>> columns;
    if (m_pg) {
        const QSqlRecord rec = m_db.record(m_quotedTable);
        for (int i = 0; i < rec.count(); ++i) {
            const QSqlField f = rec.field(i);
            columns.insert(f.name().toLower(), {f.name(), metaTypeName(f.metaType())});
        }
    } else {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(m_quotedTable)))
            throw engineError(q);
        while (q.next()) {
            const QString name = q.value(1).toString();
            columns.insert(name.toLower(), {name, sqliteTypeName(q.value(2).toString())});
        }
    }

    m_quoted.clear();
    m_realColumns.clear();
    for (const FieldDef &def : std::as_const(m_fields)) {
        const auto it = columns.constFind(def.name.toLower());
        if (it == columns.constEnd())
            throw error(QStringLiteral("Field '%1' not found").arg(def.name));
        if (!compatible(def.type, it->second, !m_pg))
            throw error(QStringLiteral("Type mismatch for field '%1', expecting: %2 actual: %3")
                            .arg(def.name, typeName(def.type), it->second));
        m_realColumns.append(it->first);
        m_quoted.append(driver->escapeIdentifier(it->first, QSqlDriver::FieldName));
    }

    m_index.clear();
    const QStringList indexNames = m_indexFieldNames.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &name : indexNames)
        m_index.append(fieldIndex(name.trimmed()));
    if (m_master && m_masterFields.size() > m_index.size())
        throw error(QStringLiteral("Master fields '%1' do not match the index fields '%2'")
                        .arg(m_masterFields.join(QLatin1Char(';')), m_indexFieldNames));
    checkIndex();

    QStringList order;
    for (int i : std::as_const(m_index))
        order.append(m_quoted.at(i));
    for (FieldType type : {FieldType::Date, FieldType::Time}) {
        for (int i = 0; i < m_fields.size(); ++i) {
            if (m_fields.at(i).type == type && !m_index.contains(i))
                order.append(m_quoted.at(i));
        }
    }
    order.append(addressColumn());
    m_order = QStringLiteral(" ORDER BY ") + order.join(QStringLiteral(", "));
}

// The index fields must lead some index of the table (the primary key counts).
void Table::checkIndex()
{
    if (m_index.isEmpty())
        return;
    QStringList wanted;
    for (int i : std::as_const(m_index))
        wanted.append(m_realColumns.at(i));

    QList<QStringList> indexes;
    if (m_pg) {
        QSqlQuery q = prepare(QStringLiteral(
            "SELECT (SELECT string_agg(COALESCE(a.attname, ''), ';' ORDER BY k.ord)"
            " FROM unnest(CAST(i.indkey AS int2[])) WITH ORDINALITY AS k(attnum, ord)"
            " LEFT JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum)"
            " FROM pg_index i WHERE i.indrelid = CAST(? AS regclass)"));
        q.addBindValue(m_quotedTable);
        exec(q);
        while (q.next())
            indexes.append(q.value(0).toString().split(QLatin1Char(';')));
    } else {
        QSqlDriver *driver = m_db.driver();
        QStringList names;
        {
            QSqlQuery q(m_db);
            if (!q.exec(QStringLiteral("PRAGMA index_list(%1)").arg(m_quotedTable)))
                throw engineError(q);
            while (q.next())
                names.append(q.value(1).toString());
        }
        for (const QString &name : std::as_const(names)) {
            QSqlQuery q(m_db);
            if (!q.exec(QStringLiteral("PRAGMA index_info(%1)")
                            .arg(driver->escapeIdentifier(name, QSqlDriver::TableName))))
                throw engineError(q);
            QStringList cols;
            while (q.next())
                cols.append(q.value(2).toString());
            indexes.append(cols);
        }
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("PRAGMA table_info(%1)").arg(m_quotedTable)))
            throw engineError(q);
        QMap<int, QString> pk;
        while (q.next()) {
            if (q.value(5).toInt() > 0)
                pk.insert(q.value(5).toInt(), q.value(1).toString());
        }
        indexes.append(pk.values());
    }

    for (const QStringList &cols : std::as_const(indexes)) {
        if (cols.size() < wanted.size())
            continue;
        bool leads = true;
        for (int i = 0; i < wanted.size() && leads; ++i)
            leads = cols.at(i).compare(wanted.at(i), Qt::CaseInsensitive) == 0;
        if (leads)
            return;
    }
    throw error(QStringLiteral("No index for fields '%1'").arg(m_indexFieldNames));
}

void Table::open()
{
    if (isActive())
        return;
    try {
        resolve();
        m_state = State::Browse;
        m_current = QVariant();
        resetRange();
    } catch (...) {
        m_state = State::Inactive;
        m_rows.reset();
        m_current = QVariant();
        m_db = QSqlDatabase();
        throw;
    }
    emit stateChanged();
    emit dataChanged();
}

void Table::close()
{
    if (!isActive())
        return;
    rollback();
    m_state = State::Inactive;
    m_rows.reset();
    m_pos = -1;
    m_current = QVariant();
    m_beforeWrite = QVariant();
    clearValues(true);
    m_db = QSqlDatabase();
    emit stateChanged();
    emit dataChanged();
}

// ---------------------------------------------------------------- range

bool Table::rangeKey(QVariantList *key) const
{
    key->clear();
    if (!m_master)
        return true;
    if (!m_master->isActive() || !m_master->hasRecord())
        return false;
    for (int i = 0; i < m_masterFields.size(); ++i)
        key->append(toEngine(m_index.at(i), convert(m_index.at(i), m_master->value(m_masterFields.at(i)))));
    return true;
}

QString Table::rangeWhere(int count) const
{
    QStringList conds;
    for (int i = 0; i < count; ++i)
        conds.append(m_quoted.at(m_index.at(i)) + QStringLiteral(" = ?"));
    return conds.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
}

void Table::loadRange()
{
    QVariantList rows;
    QVariantList key;
    if (rangeKey(&key)) {
        QSqlQuery q = prepare(QStringLiteral("SELECT ") + addressSelect() + QStringLiteral(" FROM ") + m_quotedTable
                              + rangeWhere(key.size()) + m_order);
        for (const QVariant &v : std::as_const(key))
            q.addBindValue(v);
        exec(q);
        while (q.next())
            rows.append(q.value(0));
    }
    m_rows = rows;
    m_pos = m_current.isValid() ? int(m_rows->indexOf(m_current)) : -1;
}

// Fresh range, cursor on its first row. A table without a master loads the
// addresses of its rows only when a move or a count needs them.
void Table::resetRange()
{
    if (m_master) {
        loadRange();
        m_pos = m_rows->isEmpty() ? -1 : 0;
        m_current = m_pos < 0 ? QVariant() : m_rows->at(0);
    } else {
        m_rows.reset();
        m_pos = -1;
        QSqlQuery q = prepare(QStringLiteral("SELECT ") + addressSelect() + QStringLiteral(" FROM ") + m_quotedTable
                              + m_order + QStringLiteral(" LIMIT 1"));
        exec(q);
        m_current = q.next() ? q.value(0) : QVariant();
    }
    readCurrent();
}

void Table::ensureRange()
{
    if (m_rows)
        return;
    loadRange();
    if (m_pos < 0 && !m_rows->isEmpty()) {
        m_pos = 0;
        m_current = m_rows->at(0);
        readCurrent();
    }
}

void Table::clearValues(bool blobsLoaded)
{
    const int n = int(m_fields.size());
    m_values = QVariantList(n);
    m_blobLoaded = QList<bool>(n, blobsLoaded);
    m_blobNull = QList<bool>(n, true);
    m_modified = QList<bool>(n, false);
}

void Table::readCurrent(bool forUpdate)
{
    clearValues(true);
    if (!m_current.isValid())
        return;
    QStringList cols;
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).type == FieldType::Blob)
            cols.append(QStringLiteral("CASE WHEN %1 IS NULL THEN 1 ELSE 0 END").arg(m_quoted.at(i)));
        else
            cols.append(m_quoted.at(i));
    }
    QString sql = QStringLiteral("SELECT ") + cols.join(QStringLiteral(", ")) + QStringLiteral(" FROM ")
                  + m_quotedTable + QStringLiteral(" WHERE ") + addressMatch();
    if (forUpdate && m_pg)
        sql += QStringLiteral(" FOR UPDATE");
    QSqlQuery q = prepare(sql);
    q.addBindValue(m_current);
    exec(q);
    if (!q.next()) {
        if (forUpdate)
            throw error(QStringLiteral("O registro foi alterado ou excluído por outro usuário"));
        return;
    }
    for (int i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).type == FieldType::Blob) {
            m_blobNull[i] = q.value(i).toInt() != 0;
            m_blobLoaded[i] = m_blobNull.at(i);
        } else {
            m_values[i] = fromEngine(i, q.value(i));
        }
    }
}

void Table::moveTo(int pos)
{
    m_pos = pos;
    m_current = pos >= 0 ? m_rows->at(pos) : QVariant();
    readCurrent();
    emit dataChanged();
}

// A pending change is posted before the cursor moves, if anything was set.
void Table::settle()
{
    if (m_state != State::Insert && m_state != State::Edit)
        return;
    if (m_modified.contains(true))
        post();
    else
        cancel();
}

void Table::onMasterChanged()
{
    if (!isActive())
        return;
    // The master moved: a half-made change of the old range cannot survive it.
    rollback();
    m_beforeWrite = QVariant();
    m_current = QVariant();
    try {
        resetRange();
    } catch (const AppError &e) {
        qWarning().noquote() << e.message();
        m_rows = QVariantList();
        m_pos = -1;
        m_current = QVariant();
        clearValues(true);
    }
    setState(State::Browse);
    emit dataChanged();
}

// ---------------------------------------------------------------- cursor

bool Table::findKey(const QVariantList &values)
{
    requireActive();
    settle();
    if (values.size() > m_index.size())
        throw error(QStringLiteral("Too many key values for the index fields '%1'").arg(m_indexFieldNames));
    QVariantList bound;
    for (int i = 0; i < values.size(); ++i)
        bound.append(toEngine(m_index.at(i), convert(m_index.at(i), values.at(i))));

    QVariantList key;
    if (!rangeKey(&key))
        return false;
    QStringList conds;
    for (int i = 0; i < key.size(); ++i)
        conds.append(m_quoted.at(m_index.at(i)) + QStringLiteral(" = ?"));
    for (int i = 0; i < bound.size(); ++i)
        conds.append(m_quoted.at(m_index.at(i)) + QStringLiteral(" = ?"));
    QString sql = QStringLiteral("SELECT ") + addressSelect() + QStringLiteral(" FROM ") + m_quotedTable;
    if (!conds.isEmpty())
        sql += QStringLiteral(" WHERE ") + conds.join(QStringLiteral(" AND "));
    QSqlQuery q = prepare(sql + m_order + QStringLiteral(" LIMIT 1"));
    for (const QVariant &v : std::as_const(key))
        q.addBindValue(v);
    for (const QVariant &v : std::as_const(bound))
        q.addBindValue(v);
    exec(q);
    if (!q.next())
        return false;
    m_current = q.value(0);
    q.finish();
    if (m_rows) {
        m_pos = int(m_rows->indexOf(m_current));
        if (m_pos < 0)
            loadRange();
    }
    readCurrent();
    emit dataChanged();
    return true;
}

int Table::recordCount()
{
    requireActive();
    ensureRange();
    return int(m_rows->size());
}

void Table::first()
{
    requireActive();
    settle();
    ensureRange();
    moveTo(m_rows->isEmpty() ? -1 : 0);
}

void Table::last()
{
    requireActive();
    settle();
    ensureRange();
    moveTo(int(m_rows->size()) - 1);
}

void Table::prior()
{
    requireActive();
    settle();
    ensureRange();
    if (m_pos > 0)
        moveTo(m_pos - 1);
    else if (m_pos < 0 && !m_rows->isEmpty())
        moveTo(0);
}

void Table::next()
{
    requireActive();
    settle();
    ensureRange();
    if (m_pos < int(m_rows->size()) - 1)
        moveTo(m_pos + 1);
}

bool Table::hasRecord() const
{
    return m_state == State::Insert || (isActive() && m_current.isValid());
}

QVariant Table::bookmark() const
{
    return isActive() ? m_current : QVariant();
}

bool Table::gotoBookmark(const QVariant &mark)
{
    requireActive();
    settle();
    ensureRange();
    const int pos = mark.isValid() ? int(m_rows->indexOf(mark)) : -1;
    if (pos < 0)
        return false;
    moveTo(pos);
    return true;
}

// ---------------------------------------------------------------- writing

void Table::begin()
{
    if (m_inTransaction)
        return;
    m_beforeWrite = m_current;
    execPlain(m_pg ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
    m_inTransaction = true;
    try {
        if (m_pg)
            lockRange();
        // What this writer decides on must be what is there once it holds the lock.
        loadRange();
        if (m_pos < 0) {
            m_pos = m_rows->isEmpty() ? -1 : 0;
            m_current = m_pos < 0 ? QVariant() : m_rows->at(0);
        }
        readCurrent();
    } catch (...) {
        rollback();
        restore();
        throw;
    }
}

// Serialises the writers of one range across processes until commit/rollback.
void Table::lockRange()
{
    QVariantList key;
    rangeKey(&key);
    bool ints = key.size() == 2;
    for (const QVariant &v : std::as_const(key)) {
        bool ok = false;
        v.toInt(&ok);
        ints = ints && ok && !v.isNull();
    }
    QSqlQuery q(m_db);
    if (ints) {
        q = prepare(QStringLiteral("SELECT pg_advisory_xact_lock(CAST(? AS int4), CAST(? AS int4))"));
        q.addBindValue(key.at(0).toInt());
        q.addBindValue(key.at(1).toInt());
    } else {
        QStringList parts{m_realTable};
        for (const QVariant &v : std::as_const(key))
            parts.append(v.toString());
        q = prepare(QStringLiteral("SELECT pg_advisory_xact_lock(hashtext(?))"));
        q.addBindValue(parts.join(QLatin1Char('|')));
    }
    exec(q);
}

void Table::commit()
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const AppError e = engineError(q);
        rollback();
        throw e;
    }
    m_inTransaction = false;
}

void Table::rollback() const noexcept
{
    if (!m_inTransaction)
        return;
    m_inTransaction = false;
    if (!m_db.isOpen())
        return;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("ROLLBACK")))
        qWarning().noquote() << objectName() << q.lastError().text();
}

// Back to the row that was current when the transaction began, as stored.
void Table::restore() noexcept
{
    m_current = m_beforeWrite;
    m_beforeWrite = QVariant();
    try {
        loadRange();
        if (m_pos < 0) {
            m_pos = m_rows->isEmpty() ? -1 : 0;
            m_current = m_pos < 0 ? QVariant() : m_rows->at(0);
        }
        readCurrent();
    } catch (const AppError &e) {
        qWarning().noquote() << e.message();
        m_rows.reset();
        m_pos = -1;
        clearValues(true);
    }
}

void Table::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged();
}

void Table::beginWrite()
{
    requireActive();
    settle();
    begin();
    emit dataChanged();
}

void Table::insert()
{
    requireActive();
    settle();
    begin();
    try {
        clearValues(true);
        if (m_master && m_master->isActive() && m_master->hasRecord()) {
            for (int i = 0; i < m_masterFields.size(); ++i)
                m_values[m_index.at(i)] = convert(m_index.at(i), m_master->value(m_masterFields.at(i)));
        }
    } catch (...) {
        rollback();
        restore();
        throw;
    }
    setState(State::Insert);
    emit dataChanged();
}

void Table::edit()
{
    requireActive();
    if (m_state == State::Edit)
        return;
    settle();
    if (!m_current.isValid())
        throw error(QStringLiteral("Não há registro corrente para alterar"));
    const QVariant target = m_current;
    begin();
    try {
        if (m_current != target)
            throw error(QStringLiteral("O registro foi alterado ou excluído por outro usuário"));
        readCurrent(true);
    } catch (...) {
        rollback();
        restore();
        throw;
    }
    setState(State::Edit);
    emit dataChanged();
}

void Table::post()
{
    requireActive();
    if (m_state != State::Insert && m_state != State::Edit)
        return;
    try {
        if (!m_inTransaction)
            throw error(QStringLiteral("A transação de gravação foi interrompida por um erro anterior"));
        QVariant address = m_current;
        if (m_state == State::Insert) {
            QStringList marks;
            for (int i = 0; i < m_fields.size(); ++i)
                marks.append(QStringLiteral("?"));
            QString sql = QStringLiteral("INSERT INTO ") + m_quotedTable + QStringLiteral(" (")
                          + m_quoted.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (")
                          + marks.join(QStringLiteral(", ")) + QStringLiteral(")");
            if (m_pg)
                sql += QStringLiteral(" RETURNING ") + addressSelect();
            QSqlQuery q = prepare(sql);
            for (int i = 0; i < m_fields.size(); ++i)
                q.addBindValue(toEngine(i, m_values.at(i)));
            exec(q);
            if (m_pg) {
                if (!q.next())
                    throw engineError(q);
                address = q.value(0);
            } else {
                address = q.lastInsertId();
            }
        } else if (m_modified.contains(true)) {
            QStringList sets;
            for (int i = 0; i < m_fields.size(); ++i) {
                if (m_modified.at(i))
                    sets.append(m_quoted.at(i) + QStringLiteral(" = ?"));
            }
            QString sql = QStringLiteral("UPDATE ") + m_quotedTable + QStringLiteral(" SET ")
                          + sets.join(QStringLiteral(", ")) + QStringLiteral(" WHERE ") + addressMatch();
            if (m_pg)
                sql += QStringLiteral(" RETURNING ") + addressSelect();
            QSqlQuery q = prepare(sql);
            for (int i = 0; i < m_fields.size(); ++i) {
                if (m_modified.at(i))
                    q.addBindValue(toEngine(i, m_values.at(i)));
            }
            q.addBindValue(m_current);
            exec(q);
            const bool found = m_pg ? q.next() : q.numRowsAffected() > 0;
            if (!found)
                throw error(QStringLiteral("O registro foi alterado ou excluído por outro usuário"));
            if (m_pg)
                address = q.value(0);
        }
        commit();
        m_beforeWrite = QVariant();
        m_current = address;
        loadRange();
        readCurrent();
    } catch (...) {
        rollback();
        restore();
        setState(State::Browse);
        emit dataChanged();
        throw;
    }
    setState(State::Browse);
    emit dataChanged();
}

void Table::cancel()
{
    if (!isActive())
        return;
    if (m_state == State::Browse && !m_inTransaction)
        return;
    rollback();
    restore();
    setState(State::Browse);
    emit dataChanged();
}

void Table::saveChanges()
{
    requireActive();
    post();
}

// ---------------------------------------------------------------- values

QVariant Table::fromEngine(int field, const QVariant &raw) const
{
    if (!raw.isValid() || raw.isNull())
        return QVariant();
    switch (m_fields.at(field).type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
        return raw.toInt();
    case FieldType::String:
        return raw.toString();
    case FieldType::Date:
        if (raw.metaType().id() == QMetaType::QDate)
            return raw.toDate();
        if (raw.metaType().id() == QMetaType::QDateTime)
            return raw.toDateTime().date();
        return QDate::fromString(raw.toString().left(10), Qt::ISODate);
    case FieldType::Time: {
        if (raw.metaType().id() == QMetaType::QTime)
            return raw.toTime();
        const QString text = raw.toString();
        QTime t = QTime::fromString(text, Qt::ISODateWithMs);
        if (!t.isValid())
            t = QTime::fromString(text, Qt::ISODate);
        return t;
    }
    case FieldType::Blob: {
        const QByteArray bytes = raw.toByteArray();
        return bytes.isNull() ? QVariant() : QVariant(bytes);
    }
    }
    return raw;
}

QVariant Table::toEngine(int field, const QVariant &value) const
{
    const FieldType type = m_fields.at(field).type;
    if (!value.isValid() || value.isNull())
        return QVariant(nullTypeOf(type, m_pg));
    if (!m_pg && type == FieldType::Date)
        return value.toDate().toString(Qt::ISODate);
    if (!m_pg && type == FieldType::Time)
        return value.toTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    return value;
}

QVariant Table::convert(int field, const QVariant &value) const
{
    if (!value.isValid() || value.isNull())
        return QVariant();
    const FieldDef &def = m_fields.at(field);
    switch (def.type) {
    case FieldType::SmallInt:
    case FieldType::Integer: {
        bool ok = false;
        double number = 0;
        if (value.metaType().id() == QMetaType::QString) {
            const QString text = value.toString().trimmed();
            number = double(text.toLongLong(&ok));
            if (!ok)
                number = text.toDouble(&ok);
        } else {
            number = value.toDouble(&ok);
        }
        if (!ok || !std::isfinite(number) || std::floor(number) != number)
            throw AppError(QStringLiteral("'%1' is not a valid integer value for field '%2'")
                               .arg(value.toString(), def.name));
        const double lo = def.type == FieldType::SmallInt ? -32768.0 : -2147483648.0;
        const double hi = def.type == FieldType::SmallInt ? 32767.0 : 2147483647.0;
        if (number < lo || number > hi)
            throw AppError(QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                               .arg(cFormatG(number), def.name, cFormatG(lo), cFormatG(hi)));
        return int(number);
    }
    case FieldType::String:
        return value.toString();
    case FieldType::Date: {
        QDate d;
        if (value.metaType().id() == QMetaType::QDate)
            d = value.toDate();
        else if (value.metaType().id() == QMetaType::QDateTime)
            d = value.toDateTime().date();
        else
            d = QDate::fromString(value.toString(), Qt::ISODate);
        if (!d.isValid())
            throw AppError(QStringLiteral("'%1' is not a valid date for field '%2'").arg(value.toString(), def.name));
        return d;
    }
    case FieldType::Time: {
        QTime t;
        if (value.metaType().id() == QMetaType::QTime)
            t = value.toTime();
        else if (value.metaType().id() == QMetaType::QDateTime)
            t = value.toDateTime().time();
        else
            t = QTime::fromString(value.toString(), Qt::ISODateWithMs);
        if (!t.isValid())
            throw AppError(QStringLiteral("'%1' is not a valid time for field '%2'").arg(value.toString(), def.name));
        return t;
    }
    case FieldType::Blob: {
        const QByteArray bytes = value.toByteArray();
        return bytes.isNull() ? QVariant() : QVariant(bytes);
    }
    }
    return value;
}

QVariant Table::value(const QString &field) const
{
    const int i = fieldIndex(field);
    if (!hasRecord())
        return QVariant();
    if (!m_blobLoaded.at(i)) {
        QSqlQuery q = prepare(QStringLiteral("SELECT ") + m_quoted.at(i) + QStringLiteral(" FROM ") + m_quotedTable
                              + QStringLiteral(" WHERE ") + addressMatch());
        q.addBindValue(m_current);
        exec(q);
        m_values[i] = q.next() ? fromEngine(i, q.value(0)) : QVariant();
        m_blobLoaded[i] = true;
    }
    return m_values.at(i);
}

void Table::setValue(const QString &field, const QVariant &value)
{
    requireActive();
    const int i = fieldIndex(field);
    if (m_state != State::Insert && m_state != State::Edit)
        throw error(QStringLiteral("Dataset not in edit or insert mode"));
    m_values[i] = convert(i, value);
    m_blobLoaded[i] = true;
    m_blobNull[i] = m_values.at(i).isNull();
    m_modified[i] = true;
    emit dataChanged();
}

void Table::clearValue(const QString &field)
{
    setValue(field, QVariant());
}

QString Table::displayText(const QString &field) const
{
    const int i = fieldIndex(field);
    if (!hasRecord())
        return QString();
    const FieldDef &def = m_fields.at(i);
    if (def.type == FieldType::Blob) {
        const bool empty = m_blobLoaded.at(i) ? m_values.at(i).isNull() : m_blobNull.at(i);
        return empty ? QString() : QStringLiteral("(BLOB)");
    }
    const QVariant v = m_values.at(i);
    if (v.isNull())
        return QString();
    switch (def.type) {
    case FieldType::SmallInt:
    case FieldType::Integer:
        return QString::number(v.toInt());
    case FieldType::Date:
        return QLocale::system().toString(v.toDate(), QLocale::ShortFormat);
    case FieldType::Time:
        return QLocale::system().toString(v.toTime(), longTimeFormatWithoutZone());
    default:
        return v.toString();
    }
}

std::unique_ptr<QIODevice> Table::createBlobStream(const QString &field, QIODevice::OpenMode mode)
{
    requireActive();
    const int i = fieldIndex(field);
    if (m_fields.at(i).type != FieldType::Blob)
        throw error(QStringLiteral("Field '%1' is not a blob field").arg(m_fields.at(i).name));
    if (mode & QIODevice::WriteOnly) {
        if (m_state != State::Insert && m_state != State::Edit)
            throw error(QStringLiteral("Dataset not in edit or insert mode"));
        clearValue(field);
        auto stream = std::make_unique<BlobWriteStream>(this, m_fields.at(i).name);
        stream->open(QIODevice::WriteOnly);
        return stream;
    }
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(value(field).toByteArray());
    buffer->open(QIODevice::ReadOnly);
    return buffer;
}
