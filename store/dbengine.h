#pragma once

#include <QSqlDatabase>
#include <QString>

// Process-wide database connections, one per alias. An alias is bound by the
// file dbengine.ini beside the program: each section names an alias (matched
// without regard to case) and says which engine serves it:
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
// PGPASSFILE. An alias without a section is SQLite at tervik.sqlite beside the
// program.
class DbEngine
{
public:
    enum class Driver { SQLite, PostgreSQL };
    enum class OpenMode { MustExist, CreateIfMissing };

    struct Settings
    {
        Driver driver = Driver::SQLite;
        QString path;       // SQLite: absolute file path
        QString host;       // PostgreSQL
        int port = -1;      // -1: libpq's default
        QString dbname;
        QString user;
    };

    // Replaces the default <program dir>/dbengine.ini; connections already
    // open keep their settings until reset().
    static void setConfigFile(const QString &path);
    static QString configFile();
    // Closes and forgets every connection of the calling thread.
    static void reset();

    static Settings settings(const QString &alias);

    // The shared connection of the alias, opened at first use. A missing SQLite
    // file is an error unless mode is CreateIfMissing.
    static QSqlDatabase database(const QString &alias, OpenMode mode = OpenMode::MustExist);
};
