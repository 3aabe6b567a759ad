#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

enum class FieldType { SmallInt, Integer, String, Date, Time, Blob };

struct FieldDef
{
    QString name;
    FieldType type;
};

// One of the business system's tables as the tool sees it: the fields it
// declares and the leading index fields it relies on.
struct TableDef
{
    QString component; // prefixes every message about the table, e.g. "TClifor"
    QString table;
    QList<FieldDef> fields;
    QStringList indexFields;
};

// The table's real name and the declared fields' real columns, quoted for SQL
// in the declared order.
struct CheckedTable
{
    QString table;
    QStringList columns;

    QString column(int field) const { return columns.at(field); }
};

// Opens the table the way the business system's tools do: it must exist, hold
// every declared field with a compatible type (sizes are not compared) and
// have an index that begins with the index fields. Each failure is an AppError
// prefixed with the component's name: "Field '%s' not found", "Type mismatch
// for field '%s', expecting: %s actual: %s", "No index for fields '%s'".
CheckedTable checkTable(const QSqlDatabase &db, const TableDef &def);

// The range message of a field of the given type, or empty when it fits.
QString rangeError(const FieldDef &field, qint64 value);
