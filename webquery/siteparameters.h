#pragma once

#include <QString>

// The bureau site as each branch configures it: page addresses, the login and
// the names of the page elements, read from the company parameters at start-up.
// A query takes its own copy when it starts.
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
};

// The fields in the order of their parameter keys.
inline constexpr QString SiteParameters::*siteParameterFields[] = {
    &SiteParameters::URLConsulta,        &SiteParameters::IdUsu,           &SiteParameters::SenhaUsu,
    &SiteParameters::TagUsu,             &SiteParameters::TagSenhaUsu,     &SiteParameters::TagTipoCons,
    &SiteParameters::URLPagLogin,        &SiteParameters::URLPagPreencheCnpj, &SiteParameters::TagBotaoCnsCnpj,
    &SiteParameters::URLResultConsulta,
};
