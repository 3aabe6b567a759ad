#pragma once

#include "apperror.h"
#include "dbengine.h"
#include "tervikseed.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QTime>
#include <QVariantList>

#include <atomic>
#include <memory>

using namespace Qt::StringLiterals;

class SampleSite;

// The abandoned flag of a store that somebody waits for to the end.
inline const std::atomic<bool> notAbandoned{false};

// The message of the AppError that f throws, or a text saying none was thrown.
template<typename F>
QString appErrorOf(F &&f)
{
    try {
        f();
    } catch (const AppError &e) {
        return e.message();
    }
    return u"(no AppError thrown)"_s;
}

// Passes when the expression throws AppError with exactly this message.
#define QVERIFY_THROWS_MESSAGE(expression, expected) QCOMPARE(appErrorOf([&] { expression; }), QString(expected))

// Makes the fixture's database for the driver; a missing PostgreSQL server
// skips, unless CI requires it.
#define CREATE_TEST_DATABASE(db, driver) \
    do { \
        if (const QString reason_ = (db).create(driver); !reason_.isEmpty()) { \
            if (reason_.startsWith(u"no PostgreSQL") && !TestDatabase::postgresRequired()) \
                QSKIP(qPrintable(reason_)); \
            QFAIL(qPrintable(reason_)); \
        } \
    } while (false)

struct ArchiveRow
{
    int filial = 0;
    int cod = 0;
    QDate date;
    QTime time;
    QByteArray image;
    bool operator==(const ArchiveRow &) const = default;
};

// A fresh "tervik" database for one test, in a temporary folder that stands
// for the program's directory: a SQLite file there, or a new database on the
// PostgreSQL server named by TERVIK_TEST_PGHOST/PORT/USER, dropped afterwards.
// The alias is bound through a dbengine.ini written there and the tool's
// tables are created from its own schema. Writers throw AppError on failure.
class TestDatabase
{
public:
    TestDatabase() = default;
    ~TestDatabase();

    // The global data rows for a driver column: sqlite, postgresql.
    static void addDriverRows();
    // Empty when ready; otherwise why not.
    QString create(const QString &driver = u"sqlite"_s);
    static bool postgresRequired();

    bool isPostgres() const { return m_pg; }
    QString dir() const { return m_dir.path(); }
    QString iniPath() const { return m_dir.filePath(u"dbengine.ini"_s); }
    QString sqlitePath() const { return m_dir.filePath(u"tervik.sqlite"_s); }
    // Where a window started here puts its captures.
    QString captureFolder() const { return m_dir.filePath(u"DeveZozuvorWebBrowser"_s) + u'/'; }
    // Writes bytes to a file of that name in the folder; its path.
    QString writeFile(const QString &name, const QByteArray &bytes) const;

    // A second, independent connection (another user of the database).
    QSqlDatabase otherConnection();
    // On the tool's own connection (shared with the code under test).
    void exec(const QString &sql, const QVariantList &values = {});

    void addClient(int filial, int cod, const QString &name = u"CLIENTE"_s, const QString &cgc = u"12345678000195"_s)
    {
        TervikSeed::addClient(DbEngine::database(u"tervik"_s), filial, cod, name, cgc);
    }
    void addParameter(int filial, const QString &key, const QString &value)
    {
        TervikSeed::addParameter(DbEngine::database(u"tervik"_s), filial, key, value);
    }
    void addSiteParameters(int filial, const SampleSite &site);
    void addArchive(const ArchiveRow &r)
    {
        TervikSeed::addArchive(DbEngine::database(u"tervik"_s), r.filial, r.cod, r.date, r.time, r.image);
    }

    // Rows of one client as stored, in archive order (date, time, insertion).
    QList<ArchiveRow> archiveRows(int filial, int cod)
    {
        return readRows(u"WHERE Filial = ? AND Cod_Clifor = ?"_s, {filial, cod});
    }
    QList<ArchiveRow> allArchiveRows() { return readRows(QString(), {}); }
    QList<QByteArray> archiveImages(int filial, int cod);
    int archiveCount(int filial, int cod) { return int(archiveRows(filial, cod).size()); }
    // Every connection of the tool (of any thread) stops reaching the database,
    // which is back at once: the server ends them, as an administrator or a
    // restart would; the SQLite file is replaced by a copy, as from a backup.
    void loseToolConnections();
    // A trigger that refuses every insert and update of the archive table, and its removal.
    void refuseArchiveWrites();
    void allowArchiveWrites();

private:
    QList<ArchiveRow> readRows(const QString &where, const QVariantList &values);

    QTemporaryDir m_dir;
    bool m_pg = false;
    QString m_pgName;
    QString m_otherName;
};

// A suite whose every case runs once per driver, on a fresh database in m_db.
class DriverTest : public QObject
{
    Q_OBJECT

protected slots:
    void initTestCase_data() { TestDatabase::addDriverRows(); }
    void init();
    void cleanup() { m_db.reset(); }

protected:
    std::unique_ptr<TestDatabase> m_db;
};

// A small valid JPEG whose pixels depend on seed.
QByteArray makeJpeg(int seed, int width = 64, int height = 48);
// A small JPEG of one solid colour.
QByteArray solidJpeg(int width, int height, const QColor &color);
