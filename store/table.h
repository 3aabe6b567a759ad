#pragma once

#include "apperror.h"

#include <QIODevice>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>
#include <optional>

class QSqlQuery;

enum class FieldType { SmallInt, Integer, String, Date, Time, Blob };

struct FieldDef
{
    QString name;
    FieldType type;
    int size = 0;
};

// A dataset over one table of a database alias, with a cursor over an ordered
// range of rows. Without a master the range is the whole table; with a master
// it is the rows whose index fields equal the master's current key, ordered
// oldest first (index fields, then Date fields, then Time fields, then the
// row's physical address). The table belongs to the business system: only the
// declared fields are read or written, and rows are addressed physically
// (SQLite rowid, PostgreSQL ctid).
//
// insert()/edit() (or beginWrite()) open a write transaction that serialises
// writers of the same range: SQLite BEGIN IMMEDIATE, PostgreSQL an advisory
// transaction lock on the range key. post() commits, cancel() rolls back.
class Table : public QObject
{
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Insert, Edit };

    explicit Table(const QString &componentName, QObject *parent = nullptr);
    ~Table() override;

    void setDatabaseName(const QString &alias);
    QString databaseName() const { return m_alias; }
    void setTableName(const QString &name);
    QString tableName() const { return m_tableName; }
    void setFieldDefs(const QList<FieldDef> &fields);
    const QList<FieldDef> &fieldDefs() const { return m_fields; }
    void setIndexFieldNames(const QString &fields); // "Filial;Cod_Clifor"
    // The detail's index fields follow the master's masterFields.
    void setMasterSource(Table *master, const QString &masterFields);

    void open();
    void close();
    bool isActive() const { return m_state != State::Inactive; }
    State state() const { return m_state; }

    // Exact lookup on the leading index fields; false (cursor unmoved) if absent.
    bool findKey(const QVariantList &values);
    // Records in the range (-1 would mean the engine cannot count; the range's
    // row addresses are read, so the count is always known here).
    int recordCount();
    void first();
    void last();
    void prior();
    void next();
    bool hasRecord() const;

    // An opaque mark of the current record, and a return to it (false if the
    // record left the range; the cursor then stays where it was).
    QVariant bookmark() const;
    bool gotoBookmark(const QVariant &mark);

    // Opens the write transaction of the range without changing the state, so
    // that a count and the following insert/edit see the same rows. Ended by
    // post() after that insert/edit, or by cancel().
    void beginWrite();
    bool inTransaction() const { return m_inTransaction; }

    void insert();
    void edit();
    void post();
    void cancel();
    // The posted change is durable before this returns (post() commits with a
    // synchronous engine); a pending insert/edit is posted first.
    void saveChanges();

    // int, QDate, QTime, QString or QByteArray; a null QVariant for SQL NULL.
    QVariant value(const QString &field) const;
    void setValue(const QString &field, const QVariant &value);
    void clearValue(const QString &field);
    QString displayText(const QString &field) const;

    // Read: a buffer over the current value. Write (Insert/Edit only): starts
    // empty and stores what was written into the field when closed.
    std::unique_ptr<QIODevice> createBlobStream(const QString &field, QIODevice::OpenMode mode);

signals:
    void dataChanged();
    void stateChanged();

private:
    QSqlQuery prepare(const QString &sql) const;
    void exec(QSqlQuery &query) const;
    void execPlain(const QString &sql) const;
    AppError error(const QString &message) const;
    AppError engineError(const QSqlQuery &query) const;
    void requireActive() const;
    void requireNotActive() const;
    int fieldIndex(const QString &field) const;

    void resolve();
    void checkIndex();
    QString addressColumn() const;
    QString addressSelect() const;
    QString addressMatch() const;
    bool rangeKey(QVariantList *key) const;
    QString rangeWhere(int count) const;

    void loadRange();
    void ensureRange();
    void readCurrent(bool forUpdate = false);
    void clearValues(bool blobsLoaded);
    void moveTo(int pos);
    void settle();
    void resetRange();

    void begin();
    void lockRange();
    void commit();
    void rollback() const noexcept;
    void restore() noexcept;
    void setState(State state);

    QVariant fromEngine(int field, const QVariant &raw) const;
    QVariant toEngine(int field, const QVariant &value) const;
    QVariant convert(int field, const QVariant &value) const;

    void onMasterChanged();

    QString m_alias;
    QString m_tableName;
    QList<FieldDef> m_fields;
    QString m_indexFieldNames;
    QList<int> m_index;        // positions in m_fields of the index fields
    QPointer<Table> m_master;
    QStringList m_masterFields;

    // resolved at open()
    QSqlDatabase m_db;
    bool m_pg = false;
    QString m_realTable;
    QString m_quotedTable;
    QStringList m_realColumns; // real column name of each field
    QStringList m_quoted;      // the same, quoted for SQL
    QString m_order;           // ORDER BY clause of the range

    State m_state = State::Inactive;
    mutable bool m_inTransaction = false;
    std::optional<QVariantList> m_rows; // row addresses of the range, in order
    int m_pos = -1;                     // index into m_rows of the current row
    QVariant m_current;                 // address of the current row
    mutable QVariantList m_values;      // current record (the buffer in Insert/Edit)
    mutable QList<bool> m_blobLoaded;
    QList<bool> m_blobNull;
    QList<bool> m_modified;
    QVariant m_beforeWrite;             // current row when the transaction began
};
