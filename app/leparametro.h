#pragma once

#include <QString>

class DatabaseThread;

// One company parameter of the branch; a failed read is reported in a plain
// box and yields an empty value, so start-up goes on with the next key.
// The read runs on the database thread.
QString LeParametro(DatabaseThread &database, const QString &databaseName, const QString &branch, const QString &key);
