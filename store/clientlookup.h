#pragma once

#include <QString>

#include <optional>

// One client of the business system, as the window shows it.
struct Client
{
    int filial = 0;
    int codClifor = 0;
    QString nome;
    QString cgc; // the CNPJ as stored, punctuation and all
};

// Looks the client up by its key in the client table of database "tervik"
// (read only). Throws AppError when the table does not hold the declared
// fields and index, or when filial does not fit the table's 16-bit branch;
// a client that is not there is no failure.
std::optional<Client> findClient(qint64 filial, qint64 codClifor);
