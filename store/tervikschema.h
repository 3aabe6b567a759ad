#pragma once

#include <QString>

// Creates the tool's tables in the alias's database where they are missing
// (a missing SQLite file is created). Used by tests and the demo seeder.
void createSchema(const QString &alias);
