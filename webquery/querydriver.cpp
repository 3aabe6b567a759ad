#include "querydriver.h"

#include "apperror.h"
#include "cnpjtext.h"
#include "logcategories.h"
#include "scriptrunner.h"
#include "siteparameters.h"

#include <QUrl>

namespace {

// An address as the log shows it: no user, password or query string.
QString loggedAddress(const QString &url)
{
    return QUrl(url).toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

} // namespace

QueryDriver::QueryDriver(QWebEngineView *view, const SiteParameters &site, QObject *parent)
    : QObject(parent), m_page(view), m_site(site)
{
    m_pageTimer.setSingleShot(true);
    m_pageTimer.setInterval(DefaultPageTimeout);
    connect(&m_pageTimer, &QTimer::timeout, this, &QueryDriver::pageTimedOut);
    m_elapsed.start();
}

void QueryDriver::awaitPage(const QString &what)
{
    m_awaitedPage = what;
    m_pageTimer.start();
}

void QueryDriver::pageTimedOut()
{
    m_abandoned = true;
    m_heldForms.clear();
    m_page.stop();
    const int seconds = int(std::chrono::duration_cast<std::chrono::seconds>(m_pageTimer.intervalAsDuration()).count());
    qCWarning(lcQuery).noquote() << "consulta do CNPJ" << m_cnpjDigitos << "interrompida: o site não respondeu em"
                                 << seconds << "s:" << m_awaitedPage;
    emit statusChanged(QStringLiteral("O site não respondeu: %1").arg(m_awaitedPage));
    emit failed(QStringLiteral("O site da Equifax não respondeu em %1 s (%2). A consulta foi interrompida e nada foi "
                               "gravado; tente de novo mais tarde")
                    .arg(seconds)
                    .arg(m_awaitedPage));
}

void QueryDriver::start(const QString &displayedCnpj)
{
    m_loginSubmitted = false;
    m_abandoned = false;
    m_pageTimer.stop();
    emit progressRestarted(Steps);
    emit tabRequested(1);
    m_displayedCnpj = displayedCnpj;
    m_cnpjDigitos = ExtraiDigitos(displayedCnpj);
    emit statusChanged(QStringLiteral("Conectando ao web site"));
    try {
        if (m_site.URLConsulta.isEmpty()) {
            throw AppError(QStringLiteral("O endereço do site da Equifax (parâmetro eEquifaxAutoURLConsulta) não está "
                                          "cadastrado para esta filial"));
        }
        m_elapsed.start();
        qCInfo(lcQuery).noquote() << "consulta do CNPJ" << m_cnpjDigitos << "iniciada em"
                                  << loggedAddress(m_site.URLConsulta);
        m_page.navigate(m_site.URLConsulta);
        awaitPage(QStringLiteral("página inicial %1").arg(m_site.URLConsulta));
    } catch (...) {
        qCWarning(lcQuery).noquote() << "consulta do CNPJ" << m_cnpjDigitos
                                     << "não iniciada:" << redacted(currentFailureMessage());
        throw;
    }
    emit progressStep();
}

void QueryDriver::cancel()
{
    m_abandoned = true;
    m_pageTimer.stop();
    m_heldForms.clear();
    m_pendingDocuments.clear();
    m_page.stop();
    ScriptRunner::cancelWaits();
}

QString QueryDriver::redacted(QString text) const
{
    if (!m_site.SenhaUsu.isEmpty())
        text.replace(m_site.SenhaUsu, QStringLiteral("****"));
    return text;
}

void QueryDriver::documentComplete(bool ok)
{
    // The page answered; whatever comes next is timed from its request.
    m_pageTimer.stop();
    if (m_abandoned)
        return;
    if (m_handling) {
        m_pendingDocuments.enqueue(ok);
        return;
    }
    handle(ok);
    while (!m_handling && !m_pendingDocuments.isEmpty())
        handle(m_pendingDocuments.dequeue());
}

void QueryDriver::handle(bool ok)
{
    m_handling = true;
    m_resultStored = false;
    QString failure;
    bool hasFailed = false;
    bool cancelled = false;
    try {
        walk(ok);
    } catch (const Cancelled &) {
        cancelled = true;
    } catch (...) {
        hasFailed = true;
        failure = currentFailureMessage();
    }
    // Forms submitted meanwhile go out now; one that fails to go out after a
    // failed step does not hide that step's failure.
    try {
        const QList<int> forms = std::exchange(m_heldForms, {});
        if (!forms.isEmpty() && !cancelled) {
            m_page.submitForms(forms);
            awaitPage(forms.contains(1) ? QStringLiteral("resultado da consulta do CNPJ")
                                        : QStringLiteral("resposta ao login"));
        }
    } catch (...) {
        if (!hasFailed) {
            hasFailed = true;
            failure = currentFailureMessage();
        }
    }
    m_handling = false;

    if (cancelled) {
        m_abandoned = true;
    } else if (hasFailed) {
        qCWarning(lcQuery).noquote() << "consulta do CNPJ" << m_cnpjDigitos << "falhou em" << m_elapsed.elapsed()
                                     << "ms:" << redacted(failure);
        emit failed(failure);
    } else if (m_resultStored) {
        // The success box waits for the user; documents that load meanwhile
        // are handled at once, and any that queued up before it go first.
        while (!m_pendingDocuments.isEmpty())
            handle(m_pendingDocuments.dequeue());
        emit succeeded(QStringLiteral("Consulta realizada com sucesso para este cnpj!"));
    }
}

void QueryDriver::walk(bool ok)
{
    qCDebug(lcQuery).noquote() << "documento" << (ok ? "carregado:" : "não carregou:")
                               << loggedAddress(m_page.currentUrl());
    if (!ok) {
        qCWarning(lcQuery).noquote() << "a página" << loggedAddress(m_page.currentUrl()) << "não carregou";
        emit statusChanged(QStringLiteral("Não foi possível carregar a página %1").arg(m_page.currentUrl()));
        return;
    }

    emit statusChanged(QStringLiteral("Pagina de login carregada com sucesso"));
    const QString punctuatedCnpj = FormataCnpj(m_displayedCnpj);

    if (m_page.EstaNaPagina(m_site.URLPagLogin))
        handleLogin();
    if (m_page.EstaNaPagina(m_site.URLPagPreencheCnpj))
        handleCnpjPage(punctuatedCnpj);
    if (m_page.EstaNaPagina(m_site.URLResultConsulta))
        handleResult();
}

void QueryDriver::LoginClick(int index)
{
    if (!m_handling) {
        m_page.submitForms({index});
        awaitPage(QStringLiteral("resposta ao formulário %1").arg(index + 1));
        return;
    }
    m_page.checkForm(index);
    m_heldForms.append(index);
}

void QueryDriver::handleLogin()
{
    if (m_loginSubmitted) {
        throw AppError(QStringLiteral("O site da Equifax recusou o login: a página de login voltou depois de enviados "
                                      "o usuário e a senha. Confira os parâmetros de acesso antes de consultar de novo"));
    }
    emit progressStep();
    emit statusChanged(QStringLiteral("Preenchendo usuario e senha"));
    m_page.PreencheElemento(m_site.TagUsu, m_site.IdUsu);
    m_page.PreencheElemento(m_site.TagSenhaUsu, m_site.SenhaUsu);
    m_page.PreencheElemento(QStringLiteral("type"), m_site.TagTipoCons);
    emit progressStep();
    emit statusChanged(QStringLiteral("Fazendo login na Equifax"));
    m_loginSubmitted = true;
    LoginClick(0);
    emit statusChanged(QStringLiteral("Login realizado com sucesso"));
    emit progressStep();
    qCInfo(lcQuery).noquote() << "página de login" << loggedAddress(m_site.URLPagLogin) + u':'
                              << "usuário e senha enviados em" << m_elapsed.elapsed() << "ms";
}

void QueryDriver::handleCnpjPage(const QString &punctuatedCnpj)
{
    emit statusChanged(QStringLiteral("Consultando CNPJ ") + punctuatedCnpj);
    m_page.PreencheElemento(QStringLiteral("cnpj0"), punctuatedCnpj);
    emit statusChanged(QStringLiteral("Carregando consulta"));
    emit progressStep();
    m_page.ClicaElemento(m_site.TagBotaoCnsCnpj);
    LoginClick(1);
    emit statusChanged(QStringLiteral("Consulta carregada com sucesso"));
    emit progressStep();
    qCInfo(lcQuery).noquote() << "página do CNPJ" << loggedAddress(m_site.URLPagPreencheCnpj) + u':' << "CNPJ"
                              << punctuatedCnpj << "enviado em" << m_elapsed.elapsed() << "ms";
}

void QueryDriver::handleResult()
{
    emit statusChanged(QStringLiteral("Salvando consulta"));
    if (!m_resultHandler)
        throw AppError(QStringLiteral("Nenhum arquivo de consultas foi ligado à consulta"));
    m_resultHandler();
    emit progressStep();
    emit tabRequested(0);
    emit statusChanged(QStringLiteral("Consulta salva com sucesso"));
    m_resultStored = true;
    qCInfo(lcQuery).noquote() << "página de resultado" << loggedAddress(m_site.URLResultConsulta) + u':'
                              << "consulta salva em" << m_elapsed.elapsed() << "ms";
}
