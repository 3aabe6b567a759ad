#include "blobstream.h"

#include "table.h"

#include <QtDebug>

BlobWriteStream::BlobWriteStream(Table *table, const QString &field)
    : m_table(table)
    , m_field(field)
{
}

BlobWriteStream::~BlobWriteStream()
{
    if (!isOpen())
        return;
    try {
        close();
    } catch (const AppError &e) {
        qWarning().noquote() << e.message();
    }
}

void BlobWriteStream::close()
{
    if (!isOpen())
        return;
    const QByteArray bytes = buffer();
    QBuffer::close();
    if (!m_table)
        return;
    m_table->setValue(m_field, bytes.isNull() ? QByteArray("") : bytes);
}
