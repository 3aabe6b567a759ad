#pragma once

#include <QByteArray>
#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QTime>

// Rows of the business system's tables, written as the business system writes
// them (SQLite keeps dates and times as ISO text), for the demo and the tests.
// Every failure is thrown as AppError with the engine's text.
namespace TervikSeed {

// Creates the tool's tables in the alias's database where they are missing
// (a missing SQLite file is created), from the schema in store/schema.
void createSchema(const QString &alias);

void addClient(const QSqlDatabase &db, int filial, int codClifor, const QString &nome, const QString &cgc);
void addParameter(const QSqlDatabase &db, int filial, const QString &key, const QString &value);
// The ten parameters of the branch, pointing at a bureau site laid out like the
// sample site at siteUrl ("http://host:port", no trailing slash).
void addSiteParameters(const QSqlDatabase &db, int filial, const QString &siteUrl, const QString &user,
                       const QString &password);
void addArchive(const QSqlDatabase &db, int filial, int codClifor, const QDate &date, const QTime &time,
                const QByteArray &image);

} // namespace TervikSeed
