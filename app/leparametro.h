#pragma once

#include <QList>
#include <QString>

// One company parameter of the branch as start-up reads it, on the database
// thread: its value, or why it could not be read.
struct ParameterRead
{
    QString value;
    QString failure; // empty when read
};

ParameterRead LeParametro(const QString &databaseName, const QString &branch, const QString &key) noexcept;

// The branch's ten site parameters of database "Tervik", in parameterKeys() order.
QList<ParameterRead> readSiteParameters(const QString &branch);

// A read that failed is told in a plain box, and its value stays empty, so
// start-up goes on with the next key.
void reportParameterFailure(const QString &branch, const QString &key, const QString &failure);
