#include "queryarchive.h"

#include "apperror.h"
#include "dbengine.h"
#include "jpegcodec.h"
#include "logcategories.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QtDebug>

namespace {

const TableDef &archiveTable()
{
    static const TableDef def{
        QStringLiteral("TDeveZozuvor"),
        QStringLiteral("CliforDeveZozuvor"),
        {
            {QStringLiteral("Filial"), FieldType::Integer},
            {QStringLiteral("Cod_Clifor"), FieldType::Integer},
            {QStringLiteral("DataCons"), FieldType::Date},
            {QStringLiteral("HoraCons"), FieldType::Time},
            {QStringLiteral("ResultCons"), FieldType::Blob},
        },
        {QStringLiteral("Filial"), QStringLiteral("Cod_Clifor")},
    };
    return def;
}

enum Field { Filial, CodClifor, DataCons, HoraCons, ResultCons };

QByteArray readCapture(const QString &path)
{
    const auto fail = [&path](const QString &reason) {
        return AppError(QStringLiteral("Não foi possível ler o arquivo de captura '%1': %2")
                            .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()), reason));
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw fail(file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw fail(file.errorString());
    return bytes;
}

// SQLite keeps dates and times as ISO text; PostgreSQL gives typed values.
QDate dateFromEngine(const QVariant &raw)
{
    if (raw.metaType().id() == QMetaType::QDate)
        return raw.toDate();
    if (raw.metaType().id() == QMetaType::QDateTime)
        return raw.toDateTime().date();
    return QDate::fromString(raw.toString().left(10), Qt::ISODate);
}

QTime timeFromEngine(const QVariant &raw)
{
    if (raw.metaType().id() == QMetaType::QTime)
        return raw.toTime();
    const QString text = raw.toString();
    const QTime withMs = QTime::fromString(text, Qt::ISODateWithMs);
    return withMs.isValid() ? withMs : QTime::fromString(text, Qt::ISODate);
}

} // namespace

QueryArchive::QueryArchive(const Client &client)
    : m_client(client)
    // The first statement of a job: a connection lost since the last is opened again here.
    , m_pg(DbEngine::answering(QStringLiteral("tervik")).driverName() == QLatin1String("QPSQL"))
    , m_table(checkTable(db(), archiveTable()))
    , m_address(m_pg ? QStringLiteral("CAST(ctid AS text)") : QStringLiteral("rowid"))
    , m_addressMatch(m_pg ? QStringLiteral("ctid = CAST(? AS tid)") : QStringLiteral("rowid = ?"))
{
    qCDebug(lcStore).noquote() << QStringLiteral("filial %1 cliente %2:").arg(m_client.filial).arg(m_client.codClifor)
                               << "arquivo de consultas aberto";
}

QSqlDatabase QueryArchive::db()
{
    return DbEngine::database(QStringLiteral("tervik"));
}

AppError QueryArchive::error(const QString &message) const
{
    return AppError(archiveTable().component + QStringLiteral(": ") + message);
}

// Every statement of a transaction runs on the connection that began it: one
// opened afresh meanwhile would write outside the transaction.
QSqlDatabase QueryArchive::connection() const
{
    return m_transaction.isValid() ? m_transaction : db();
}

AppError QueryArchive::engineError(const char *doing, const QSqlDatabase &connection, const QSqlError &engine) const
{
    return error(QString::fromUtf8(doing) + QStringLiteral(": ") + DbEngine::failure(connection, engine));
}

// A failed statement ends the write transaction while the statement still
// exists: PostgreSQL refuses everything else in an aborted transaction,
// freeing the statement included.
QSqlQuery QueryArchive::exec(const char *doing, const QString &sql, const QVariantList &values) const
{
    const QSqlDatabase on = connection();
    QSqlQuery q(on);
    q.setForwardOnly(true);
    bool ok = q.prepare(sql);
    for (const QVariant &v : values)
        q.addBindValue(v);
    if (!ok || !q.exec()) {
        const AppError e = engineError(doing, on, q.lastError());
        rollback();
        throw e;
    }
    return q;
}

// Transaction control is not a statement PostgreSQL can prepare.
void QueryArchive::execPlain(const char *doing, const QSqlDatabase &on, const QString &sql) const
{
    QSqlQuery q(on);
    if (!q.exec(sql))
        throw engineError(doing, on, q.lastError());
}

void QueryArchive::rollback() const noexcept
{
    const QSqlDatabase on = std::exchange(m_transaction, QSqlDatabase());
    // A transaction whose connection was lost was rolled back by the server.
    if (!on.isOpen())
        return;
    QSqlQuery q(on);
    if (!q.exec(QStringLiteral("ROLLBACK")))
        qWarning().noquote() << archiveTable().component << q.lastError().text();
}

QVariant QueryArchive::toEngine(const QDate &date) const
{
    return m_pg ? QVariant(date) : QVariant(date.toString(Qt::ISODate));
}

QVariant QueryArchive::toEngine(const QTime &time) const
{
    return m_pg ? QVariant(time) : QVariant(time.toString(QStringLiteral("HH:mm:ss.zzz")));
}

QList<ArchiveEntry> QueryArchive::entries() const
{
    const CheckedTable &t = m_table;
    const char *doing = "não foi possível ler as consultas do cliente";
    QSqlQuery q = exec(doing,
                       QStringLiteral("SELECT %1, %2, %3 FROM %4 WHERE %5 = ? AND %6 = ? ORDER BY %2, %3, %7")
                           .arg(m_address, t.column(DataCons), t.column(HoraCons), t.table, t.column(Filial),
                                t.column(CodClifor), m_pg ? QStringLiteral("ctid") : QStringLiteral("rowid")),
                       {m_client.filial, m_client.codClifor});
    QList<ArchiveEntry> list;
    while (q.next())
        list.append({dateFromEngine(q.value(1)), timeFromEngine(q.value(2)), q.value(0)});
    if (q.lastError().isValid())
        throw engineError(doing, connection(), q.lastError());
    return list;
}

void QueryArchive::checkWritable() const
{
    entries();
    const char *doing = "a tabela de consultas não pode ser gravada";
    if (!m_pg) {
        execPlain(doing, db(), QStringLiteral("BEGIN IMMEDIATE"));
        m_transaction = db();
        rollback();
        return;
    }
    QSqlQuery q = exec(doing, QStringLiteral("SELECT has_table_privilege(CAST(? AS text), 'INSERT, UPDATE')"),
                       {m_table.table});
    if (!q.next() || !q.value(0).toBool())
        throw error(QString::fromUtf8(doing) + QStringLiteral(": sem permissão de gravação em ") + m_table.table);
}

QByteArray QueryArchive::image(const ArchiveEntry &entry) const
{
    const char *doing = "não foi possível ler a imagem da consulta";
    QSqlQuery q = exec(
        doing,
        QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(m_table.column(ResultCons), m_table.table, m_addressMatch),
        {entry.address});
    if (!q.next()) {
        if (q.lastError().isValid())
            throw engineError(doing, connection(), q.lastError());
        return QByteArray();
    }
    return q.value(0).toByteArray();
}

StoredQuery QueryArchive::store(const QString &captureFile, const std::atomic<bool> &abandoned, const QDateTime &now)
{
    QElapsedTimer timer;
    timer.start();
    try {
        return storeOnce(captureFile, abandoned, now, timer);
    } catch (...) {
        qCWarning(lcStore).noquote()
            << QStringLiteral("filial %1 cliente %2:").arg(m_client.filial).arg(m_client.codClifor)
            << "consulta não arquivada após" << timer.elapsed() << "ms:" << currentFailureMessage();
        throw;
    }
}

StoredQuery QueryArchive::storeOnce(const QString &captureFile, const std::atomic<bool> &abandoned,
                                     const QDateTime &now, const QElapsedTimer &timer)
{
    const QByteArray bytes = readCapture(captureFile);
    // Only a picture that decodes whole goes into the archive.
    Jpeg::verify(bytes);

    const CheckedTable &t = m_table;
    const char *doing = "não foi possível gravar a consulta";
    const QSqlDatabase on = db();
    ArchiveEntry entry;
    execPlain(doing, on, m_pg ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"));
    m_transaction = on;
    try {
        if (m_pg)
            exec(doing, QStringLiteral("SELECT pg_advisory_xact_lock(CAST(? AS int4), CAST(? AS int4))"),
                 {m_client.filial, m_client.codClifor});
        // What this writer decides on is what is there once it holds the lock.
        const QList<ArchiveEntry> stored = entries();
        const QString returning = m_pg ? QStringLiteral(" RETURNING ") + m_address : QString();
        QSqlQuery q;
        if (stored.size() < KeptPerClient) {
            q = exec(doing,
                     QStringLiteral("INSERT INTO %1 (%2, %3, %4, %5, %6) VALUES (?, ?, ?, ?, ?)")
                             .arg(t.table, t.column(Filial), t.column(CodClifor), t.column(DataCons),
                                  t.column(HoraCons), t.column(ResultCons))
                         + returning,
                     {m_client.filial, m_client.codClifor, toEngine(now.date()), toEngine(now.time()), bytes});
        } else {
            q = exec(doing,
                     QStringLiteral("UPDATE %1 SET %2 = ?, %3 = ?, %4 = ? WHERE %5")
                             .arg(t.table, t.column(DataCons), t.column(HoraCons), t.column(ResultCons), m_addressMatch)
                         + returning,
                     {toEngine(now.date()), toEngine(now.time()), bytes, stored.first().address});
            if (!m_pg && q.numRowsAffected() != 1)
                throw error(QStringLiteral("O registro foi alterado ou excluído por outro usuário"));
        }
        // PostgreSQL names the row in RETURNING; asking it for lastInsertId()
        // would run a failing statement that aborts the transaction.
        QVariant address;
        if (m_pg) {
            if (!q.next())
                throw error(QStringLiteral("O registro foi alterado ou excluído por outro usuário"));
            address = q.value(0);
        } else {
            address = stored.size() < KeptPerClient ? q.lastInsertId() : stored.first().address;
        }
        q = QSqlQuery();
        entry = {now.date(), now.time(), address};
        // Stored means that what the business system reads back is what was
        // captured: checked while it can still be undone.
        if (const QByteArray kept = image(entry); kept != bytes) {
            throw error(QStringLiteral("A consulta gravada no banco de dados não confere com a captura (%1 bytes "
                                       "lidos de volta, %2 capturados)")
                            .arg(kept.size())
                            .arg(bytes.size()));
        }
        const QList<ArchiveEntry> committed = entries();
        // Nobody waits for this store any more (the user left, or the wait
        // ran out): it must not appear later behind their back.
        if (abandoned)
            throw Cancelled();
        execPlain(doing, on, QStringLiteral("COMMIT"));
        m_transaction = QSqlDatabase();
        qCInfo(lcStore).noquote()
            << QStringLiteral("filial %1 cliente %2:").arg(m_client.filial).arg(m_client.codClifor)
            << "consulta arquivada," << bytes.size() << "bytes,"
            << (stored.size() < KeptPerClient ? "registro novo" : "registro mais antigo reescrito") << "em"
            << timer.elapsed() << "ms";
        return {entry, committed};
    } catch (...) {
        rollback();
        throw;
    }
}
