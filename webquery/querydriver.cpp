#include "querydriver.h"

#include "apperror.h"
#include "cnpjtext.h"
#include "pageaccess.h"
#include "siteparameters.h"


QueryDriver::QueryDriver(QueryHost &host, PageAccess &page, const SiteParameters &site)
    : m_host(host), m_page(page), m_site(site)
{
}

void QueryDriver::start()
{
    m_loginSubmitted = false;
    m_host.restartProgress(Steps);
    m_host.showTab(1);
    m_host.setCnpjDigitos(ExtraiDigitos(m_host.displayedCnpj()));
    m_host.SetaStatus(QStringLiteral("Conectando ao web site"));
    if (m_site.URLConsulta.isEmpty()) {
        throw AppError(QStringLiteral("O endereço do site da Equifax (parâmetro eEquifaxAutoURLConsulta) não está "
                                      "cadastrado para esta filial"));
    }
    m_page.navigate(m_site.URLConsulta);
    m_host.IncProgresso();
}

void QueryDriver::documentComplete(bool ok)
{
    if (!ok) {
        m_host.SetaStatus(QStringLiteral("Não foi possível carregar a página %1").arg(m_page.currentUrl()));
        return;
    }

    m_host.SetaStatus(QStringLiteral("Pagina de login carregada com sucesso"));
    const QString punctuatedCnpj = FormataCnpj(m_host.displayedCnpj());

    if (m_page.EstaNaPagina(m_site.URLPagLogin))
        handleLogin();
    if (m_page.EstaNaPagina(m_site.URLPagPreencheCnpj))
        handleCnpjPage(punctuatedCnpj);
    if (m_page.EstaNaPagina(m_site.URLResultConsulta))
        handleResult();
}

void QueryDriver::handleLogin()
{
    if (m_loginSubmitted) {
        throw AppError(QStringLiteral("O site da Equifax recusou o login: a página de login voltou depois de enviados "
                                      "o usuário e a senha. Confira os parâmetros de acesso antes de consultar de novo"));
    }
    m_host.IncProgresso();
    m_host.SetaStatus(QStringLiteral("Preenchendo usuario e senha"));
    m_page.PreencheElemento(m_site.TagUsu, m_site.IdUsu);
    m_page.PreencheElemento(m_site.TagSenhaUsu, m_site.SenhaUsu);
    m_page.PreencheElemento(QStringLiteral("type"), m_site.TagTipoCons);
    m_host.IncProgresso();
    m_host.SetaStatus(QStringLiteral("Fazendo login na Equifax"));
    m_loginSubmitted = true;
    m_host.LoginClick(0);
    m_host.SetaStatus(QStringLiteral("Login realizado com sucesso"));
    m_host.IncProgresso();
}

void QueryDriver::handleCnpjPage(const QString &punctuatedCnpj)
{
    m_host.SetaStatus(QStringLiteral("Consultando CNPJ ") + punctuatedCnpj);
    m_page.PreencheElemento(QStringLiteral("cnpj0"), punctuatedCnpj);
    m_host.SetaStatus(QStringLiteral("Carregando consulta"));
    m_host.IncProgresso();
    m_page.ClicaElemento(m_site.TagBotaoCnsCnpj);
    m_host.LoginClick(1);
    m_host.SetaStatus(QStringLiteral("Consulta carregada com sucesso"));
    m_host.IncProgresso();
}

void QueryDriver::handleResult()
{
    m_host.SetaStatus(QStringLiteral("Salvando consulta"));
    m_host.SalvaPagina();
    m_host.IncProgresso();
    m_host.showTab(0);
    m_host.SetaStatus(QStringLiteral("Consulta salva com sucesso"));
    m_host.announceSuccess(QStringLiteral("Consulta realizada com sucesso para este cnpj!"));
}
