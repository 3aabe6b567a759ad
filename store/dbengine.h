#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

// Database connections, one per alias and thread. An alias is bound by a
// dbengine.ini: the one beside the program wins, then the one in the system
// configuration folder (/etc/devezozuvor, or DEVEZOZUVOR_CONFIG_DIR); the
// variable DEVEZOZUVOR_DBENGINE_INI names one file in place of both. Each
// section names an alias (matched without regard to case) and says which
// engine serves it:
//
//   [tervik]
//   driver=sqlite
//   path=dados/tervik.sqlite        ; relative to the program's directory
//
//   [tervik]
//   driver=postgresql
//   host=db.example  port=5432  dbname=tervik  user=devezozuvor
//
// Passwords never live in the file; libpq takes them from ~/.pgpass or
// PGPASSFILE. An alias that no file binds is SQLite at tervik.sqlite beside the
// program.
class DbEngine
{
public:
    enum class Driver { SQLite, PostgreSQL };
    enum class OpenMode { MustExist, CreateIfMissing };

    struct Settings
    {
        Driver driver = Driver::SQLite;
        QString path;  // SQLite: absolute file path
        QString host;  // PostgreSQL
        int port = -1; // -1: libpq's default
        QString dbname;
        QString user;
        QString source;    // the file that binds the alias; empty for the default
        QStringList tried; // the files searched, in order
    };

    // The files searched for a section, in order, as the environment says at
    // this call. Connections already open keep their settings until reset().
    static QStringList configFiles();
    // Closes and forgets every connection of the calling thread.
    static void reset();

    static Settings settings(const QString &alias);

    // The calling thread's connection of the alias, opened at first use and
    // opened afresh once lost (closed by a failure, or its SQLite file moved,
    // removed or made unreadable). A missing SQLite file is an error unless
    // mode is CreateIfMissing.
    static QSqlDatabase database(const QString &alias, OpenMode mode = OpenMode::MustExist);

    // database(), once the connection has answered one cheap round trip; a
    // connection found lost is opened once more. Throws AppError with the
    // reason when the database does not answer.
    static QSqlDatabase answering(const QString &alias);

    // What the engine said of a statement that failed on db. A failure that
    // shows the connection lost says so, naming the database, and closes it:
    // the next database() opens it afresh.
    static QString failure(QSqlDatabase db, const QSqlError &error);
    // What the engine said, without Qt's own words after it ("Unable to fetch row").
    static QString engineText(const QSqlError &error);
};

// The check before a query the bureau bills: the calling thread's connection
// to database "tervik", opened afresh when it has none or it is known lost.
// An open connection is taken as it is, with no round trip, so that a busy
// database holds up the store, not the walk. Throws AppError with the reason
// (server down, connection refused, file gone).
void checkDatabase();
