#pragma once

#include <QString>

class QObject;
class Table;

// The client table of the business system, looked up by branch and code.
Table *makeCliforTable(QObject *parent);
// The client's archived query images, a detail of the client table.
Table *makeArchiveTable(Table *clifor, QObject *parent);

// Creates the tool's tables in the alias's database where they are missing
// (a missing SQLite file is created). Used by tests and the demo seeder.
void createSchema(const QString &alias);
