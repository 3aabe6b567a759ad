#pragma once

#include <QBuffer>
#include <QPointer>
#include <QString>

class Table;

// Write side of a blob field: collects the bytes and hands them to the table's
// record buffer on close() (or on destruction, if still open).
class BlobWriteStream : public QBuffer
{
    Q_OBJECT
public:
    BlobWriteStream(Table *table, const QString &field);
    ~BlobWriteStream() override;

    void close() override;

private:
    QPointer<Table> m_table;
    QString m_field;
};
