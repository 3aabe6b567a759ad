#pragma once

#include "apperror.h"
#include "clientlookup.h"
#include "tablecheck.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QTime>
#include <QVariant>

#include <atomic>

class QElapsedTimer;
class QSqlQuery;

// One stored query: when it was made and where its row lies (SQLite rowid,
// PostgreSQL ctid). The image is read only when it is shown.
struct ArchiveEntry
{
    QDate date;
    QTime time;
    QVariant address;
};

// A store as committed: the new entry, and the client's archive with it, read
// in the store's own transaction.
struct StoredQuery
{
    ArchiveEntry entry;
    QList<ArchiveEntry> entries;
};

// The client's archived query images in database "tervik": at most two per
// client, presented oldest first (date, time, then row), so the newest is last.
// Each call works on the calling thread's connection.
class QueryArchive
{
public:
    static constexpr int KeptPerClient = 2;

    // Opens the archive table for the client. Throws AppError ("TDeveZozuvor: ...")
    // when the table lacks a declared field or its client index.
    explicit QueryArchive(const Client &client);

    QList<ArchiveEntry> entries() const;
    // Whether a report could be stored now: the table read, and the rights to
    // write it (PostgreSQL's privileges, SQLite's write lock taken and let go).
    // Throws AppError with the engine's words when not.
    void checkWritable() const;
    // The entry's JPEG bytes; empty when it has none or its row is gone.
    QByteArray image(const ArchiveEntry &entry) const;

    // Stores the JPEG file as the client's newest query: a new row while the
    // client has fewer than two, otherwise the oldest row is rewritten. The
    // count and the write happen in one transaction holding the client's lock
    // (SQLite BEGIN IMMEDIATE, a PostgreSQL advisory lock), committed durably;
    // on any failure it rolls back and the archive is exactly as it was. Once
    // abandoned is set (nobody waits for the store any more) it never commits.
    // Before the commit the record is read back and must equal the file's
    // bytes; once committed, the store has succeeded.
    StoredQuery store(const QString &captureFile, const std::atomic<bool> &abandoned,
                       const QDateTime &now = QDateTime::currentDateTime());

private:
    StoredQuery storeOnce(const QString &captureFile, const std::atomic<bool> &abandoned, const QDateTime &now,
                           const QElapsedTimer &timer);
    AppError error(const QString &message) const;
    AppError engineError(const char *doing, const QSqlDatabase &connection, const QSqlError &engine) const;
    // doing: what failed, as the message says it ("não foi possível gravar a consulta").
    QSqlQuery exec(const char *doing, const QString &sql, const QVariantList &values = {}) const;
    void execPlain(const char *doing, const QSqlDatabase &on, const QString &sql) const;
    void rollback() const noexcept;
    QVariant toEngine(const QDate &date) const;
    QVariant toEngine(const QTime &time) const;

    static QSqlDatabase db();
    QSqlDatabase connection() const;

    Client m_client;
    bool m_pg = false;
    CheckedTable m_table;
    QString m_address;      // the row address as a value
    QString m_addressMatch; // WHERE clause on one row address
    mutable QSqlDatabase m_transaction; // while a store's transaction is open
};
