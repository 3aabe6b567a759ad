#pragma once

#include <QString>
#include <QStringList>

// The bureau site as each branch configures it: page addresses, the login and
// the names of the page elements, read from the company parameters at start-up.
struct SiteParameters
{
    QString URLConsulta;
    QString IdUsu;
    QString SenhaUsu;
    QString TagUsu;
    QString TagSenhaUsu;
    QString TagTipoCons;
    QString URLPagLogin;
    QString URLPagPreencheCnpj;
    QString TagBotaoCnsCnpj;
    QString URLResultConsulta;

    // The fields in the order of their parameter keys.
    QString *fields[10] = {&URLConsulta, &IdUsu,       &SenhaUsu,           &TagUsu,          &TagSenhaUsu,
                           &TagTipoCons, &URLPagLogin, &URLPagPreencheCnpj, &TagBotaoCnsCnpj, &URLResultConsulta};

    SiteParameters() = default;
    SiteParameters(const SiteParameters &) = delete;
    SiteParameters &operator=(const SiteParameters &) = delete;
};
