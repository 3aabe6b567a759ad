#pragma once

#include "apperror.h"

#include <QByteArray>
#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QTime>
#include <QVariantList>

#include <memory>

// Passes when the expression throws AppError with exactly this message.
#define QVERIFY_THROWS_MESSAGE(expression, expected)                                  \
    do {                                                                              \
        QString caught_;                                                              \
        bool thrown_ = false;                                                         \
        try {                                                                         \
            expression;                                                               \
        } catch (const AppError &e) {                                                 \
            thrown_ = true;                                                           \
            caught_ = e.message();                                                    \
        }                                                                             \
        QVERIFY2(thrown_, "expected AppError: " #expression);                         \
        QCOMPARE(caught_, QString(expected));                                         \
    } while (false)

// Runs a statement of the fixture; on failure the test fails with the engine's text.
#define EXEC(db, ...)                                                                 \
    do {                                                                              \
        const QString failure_ = (db).exec(__VA_ARGS__);                              \
        QVERIFY2(failure_.isEmpty(), qPrintable(failure_));                           \
    } while (false)

// Makes the fixture's database for the driver of the current global data row;
// a missing PostgreSQL server skips, unless CI requires it.
#define CREATE_TEST_DATABASE(db, driver)                                                      \
    do {                                                                                      \
        const QString reason_ = (db).create(driver);                                          \
        if (!reason_.isEmpty()) {                                                             \
            if (reason_.startsWith(QLatin1String("no PostgreSQL")) && !TestDatabase::postgresRequired()) \
                QSKIP(qPrintable(reason_));                                                   \
            QFAIL(qPrintable(reason_));                                                       \
        }                                                                                     \
    } while (false)

struct ArchiveRow
{
    int filial = 0;
    int cod = 0;
    QDate date;
    QTime time;
    QByteArray image;
    bool operator==(const ArchiveRow &o) const
    {
        return filial == o.filial && cod == o.cod && date == o.date && time == o.time && image == o.image;
    }
};

// A fresh database for one test: a SQLite file in a temporary folder, or a new
// database on the PostgreSQL server named by TERVIK_TEST_PGHOST/PORT/USER,
// dropped again afterwards. The alias "tervik" is bound to it through a
// dbengine.ini written beside it, and the tool's tables are created.
class TestDatabase
{
public:
    TestDatabase();
    ~TestDatabase();

    // The global data rows for a driver column: sqlite, postgresql.
    static void addDriverRows();
    // Empty when ready; otherwise why not (the test skips, or fails when
    // TERVIK_TEST_REQUIRE_PG=1).
    QString create(const QString &driver);
    static bool postgresRequired();

    bool isPostgres() const { return m_pg; }
    QString iniPath() const;
    QString sqlitePath() const;
    QString dir() const { return m_dir.path(); }

    // The tool's own connection to the database (shared with the code under test).
    QSqlDatabase connection() const;
    // A second, independent connection (another user of the database).
    QSqlDatabase otherConnection();
    // Empty on success, else the engine's text.
    QString exec(const QString &sql, const QVariantList &values = {});
    QString exec(QSqlDatabase db, const QString &sql, const QVariantList &values = {});

    QString addClient(int filial, int cod, const QString &name = QStringLiteral("CLIENTE"));
    QString addArchive(const ArchiveRow &row);
    // Rows of one client as stored, in archive order (date, time, insertion).
    QList<ArchiveRow> archiveRows(int filial, int cod);
    QList<ArchiveRow> allArchiveRows();
    // A trigger that refuses every insert and update of the archive table.
    QString refuseArchiveWrites();
    QString allowArchiveWrites();

private:
    QString writeIni(const QString &body);
    QString pgConnectionName() const;

    QTemporaryDir m_dir;
    bool m_pg = false;
    QString m_pgName;
    QString m_otherName;
};

// A small valid JPEG whose pixels depend on seed.
QByteArray makeJpeg(int seed, int width = 64, int height = 48);
QByteArray randomBytes(qsizetype size, quint32 seed);
