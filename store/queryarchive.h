#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class Table;

// The client's archived query images: at most two per client, the newest
// stored last in archive order.
class QueryArchive
{
public:
    QueryArchive(Table *archive, Table *clifor);

    // Stores the JPEG file as the current client's newest query: a new record
    // while the client has fewer than two, otherwise the oldest is rewritten.
    // Counting and writing happen in one write transaction holding the
    // client's lock. On failure the archive is left exactly as it was and the
    // previous record is current again; on success the stored one is current.
    void store(const QString &captureFile, const QDateTime &now = QDateTime::currentDateTime());

    // The image of the current record; empty when there is none.
    QByteArray currentImage() const;

private:
    Table *m_archive;
    Table *m_clifor;
};
