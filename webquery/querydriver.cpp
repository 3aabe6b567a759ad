#include "querydriver.h"

#include "apperror.h"
#include "cnpjtext.h"
#include "loadfailure.h"
#include "logcategories.h"
#include "scriptrunner.h"
#include "siteparameters.h"
#include "walkmessages.h"
#include "windowfollower.h"

#include <QPointer>
#include <QUrl>
#include <QWebEngineCertificateError>
#include <QWebEngineLoadingInfo>
#include <QWebEngineView>

namespace {

// The steps of the walk, as the user reads them when one fails.
const QString StartPage = QStringLiteral("página inicial");
const QString LoginAnswer = QStringLiteral("resposta ao login");
const QString CnpjResult = QStringLiteral("resultado da consulta do CNPJ");

} // namespace

QString loggedAddress(const QString &url)
{
    return QUrl(url).toString(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment);
}

QueryDriver::QueryDriver(QWebEngineView *view, const SiteParameters &site, const QString &displayedCnpj,
                         QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_page(view)
    , m_site(site)
    , m_displayedCnpj(displayedCnpj)
    , m_cnpjDigitos(ExtraiDigitos(displayedCnpj))
{
    m_pageTimer.setSingleShot(true);
    m_pageTimer.setInterval(DefaultPageTimeout);
    connect(&m_pageTimer, &QTimer::timeout, this, &QueryDriver::pageTimedOut);
    m_elapsed.start();
}

void QueryDriver::start()
{
    WindowFollower *windows = WindowFollower::of(m_view);
    windows->restore();
    connect(windows, &WindowFollower::followed, this, &QueryDriver::windowFollowed);
    watchPage(m_view->page());
    m_page.prepare();
    m_walking = true;
    emit progressRestarted(Steps);
    emit queryStarted();
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
        awaitPage(StartPage);
    } catch (...) {
        fail(QString(), currentFailureMessage());
        return;
    }
    emit progressStep();
}

void QueryDriver::finish()
{
    m_walking = false;
    m_pageTimer.stop();
    m_heldForms.clear();
    m_pendingDocuments = 0;
    if (m_watched)
        disconnect(m_watched, nullptr, this, nullptr);
    disconnect(WindowFollower::of(m_view), nullptr, this, nullptr);
}

void QueryDriver::cancel()
{
    if (!m_walking)
        return;
    finish();
    m_page.stop();
    // The wait's own handling sees Cancelled and goes no further.
    ScriptRunner::cancelWaits(m_view->page());
    qCInfo(lcQuery).noquote() << "consulta do CNPJ" << m_cnpjDigitos << "abandonada em" << m_elapsed.elapsed() << "ms";
}

QString QueryDriver::redacted(QString text) const
{
    if (!m_site.SenhaUsu.isEmpty())
        text.replace(m_site.SenhaUsu, QStringLiteral("****"));
    return text;
}

void QueryDriver::fail(const QString &status, const QString &message)
{
    if (!m_walking)
        return;
    finish();
    qCWarning(lcQuery).noquote() << "consulta do CNPJ" << m_cnpjDigitos << "falhou em" << m_elapsed.elapsed()
                                 << "ms:" << redacted(message);
    if (!status.isEmpty())
        emit statusChanged(status);
    emit failed(message);
}

void QueryDriver::awaitPage(const QString &what)
{
    m_awaitedPage = what;
    m_pageTimer.start();
}

void QueryDriver::pageTimedOut()
{
    m_page.stop();
    const int seconds = int(std::chrono::duration_cast<std::chrono::seconds>(m_pageTimer.intervalAsDuration()).count());
    if (!m_openedWindow.isEmpty()) {
        // Asked or not, the site answered by opening a window: that is what it did.
        fail(QStringLiteral("O site abriu uma nova janela: %1").arg(m_awaitedPage),
             WalkMessages::windowWithoutPage(m_openedWindow, m_awaitedPage, seconds));
    } else if (!m_unknownPage.isEmpty()) {
        // The site answered, with a page the walk does not know: a notice, or
        // an address parameter that no longer matches the site.
        const QString title = m_view->title().trimmed();
        fail(QStringLiteral("O site mostrou uma página inesperada: %1").arg(m_awaitedPage),
             WalkMessages::unknownPage(m_awaitedPage, loggedAddress(m_unknownPage),
                                       title == m_unknownPage ? QString() : title, seconds));
    } else {
        fail(QStringLiteral("O site não respondeu: %1").arg(m_awaitedPage),
             WalkMessages::noAnswer(m_awaitedPage, seconds));
    }
}

void QueryDriver::certificateRejected(const QWebEngineCertificateError &error)
{
    // Never accepted: the engine refuses the page, and its load fails for it.
    m_certificateProblem = certificateProblem(error);
    qCWarning(lcQuery).noquote() << "certificado recusado para" << loggedAddress(error.url().toString()) + u':'
                                 << error.description();
}

void QueryDriver::rendererEnded(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode)
{
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    const QString why = status == QWebEnginePage::KilledTerminationStatus
                            ? QStringLiteral("foi encerrado")
                            : QStringLiteral("terminou com falha (código %1)").arg(exitCode);
    // A step waiting on the dead page goes no further.
    ScriptRunner::cancelWaits(m_view->page());
    fail(QStringLiteral("O navegador parou de exibir a página"), WalkMessages::rendererEnded(why));
}

void QueryDriver::watchPage(QWebEnginePage *page)
{
    if (m_watched)
        disconnect(m_watched, nullptr, this, nullptr);
    m_watched = page;
    connect(page, &QWebEnginePage::loadingChanged, this, &QueryDriver::loadingChanged);
    connect(page, &QWebEnginePage::certificateError, this, &QueryDriver::certificateRejected);
    connect(page, &QWebEnginePage::renderProcessTerminated, this, &QueryDriver::rendererEnded);
}

void QueryDriver::windowFollowed(QWebEnginePage *page, const QUrl &address)
{
    // The walk goes on in the new window; the opener's pending script answers still arrive.
    watchPage(page);
    const QString shown = loggedAddress(address.toString());
    m_openedWindow = shown.isEmpty() || shown == u"about:blank" ? QStringLiteral("sem endereço") : shown;
}

void QueryDriver::loadingChanged(const QWebEngineLoadingInfo &info)
{
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        m_unknownPage.clear(); // the site answers anew
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus: // replaced by another load, or stopped here
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        if (!info.isErrorPage())
            documentLoaded();
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus: break;
    }
    qCWarning(lcQuery).noquote() << "a página" << loggedAddress(info.url().toString())
                                 << "não carregou:" << info.errorDomain() << info.errorCode() << info.errorString();
    QString reason = loadFailureReason(info);
    if (info.errorDomain() == QWebEngineLoadingInfo::CertificateErrorDomain && !m_certificateProblem.isEmpty())
        reason = m_certificateProblem;
    fail(QStringLiteral("O site não pôde ser carregado: %1").arg(m_awaitedPage),
         QStringLiteral("O site da Equifax não pôde ser carregado (%1, %2): %3. A consulta foi interrompida e nada "
                        "foi gravado")
             .arg(m_awaitedPage, loggedAddress(info.url().toString()), reason));
}

void QueryDriver::documentLoaded()
{
    if (m_handling) {
        ++m_pendingDocuments;
        return;
    }
    if (!handle())
        return;
    while (m_walking && !m_handling && m_pendingDocuments > 0) {
        --m_pendingDocuments;
        if (!handle())
            return;
    }
}

bool QueryDriver::handle()
{
    // Whoever ended the walk during a wait on the page may have deleted it then.
    const QPointer<QueryDriver> alive(this);
    m_handling = true;
    QString failure;
    bool hasFailed = false;
    bool cancelled = false;
    try {
        walk();
    } catch (const Cancelled &) {
        cancelled = true;
    } catch (...) {
        hasFailed = true;
        failure = currentFailureMessage();
    }
    if (!alive)
        return false;
    // Forms submitted meanwhile go out now; one that fails to go out after a
    // failed step does not hide that step's failure.
    try {
        const QList<int> forms = std::exchange(m_heldForms, {});
        if (!forms.isEmpty() && m_walking && !cancelled && !hasFailed) {
            m_page.submitForms(forms);
            awaitPage(forms.contains(1) ? CnpjResult : LoginAnswer);
        }
    } catch (...) {
        if (!hasFailed) {
            hasFailed = true;
            failure = currentFailureMessage();
        }
    }
    if (!alive)
        return false;
    m_handling = false;
    if (hasFailed && !cancelled)
        fail(QString(), failure);
    return alive;
}

void QueryDriver::walk()
{
    qCDebug(lcQuery).noquote() << "documento carregado:" << loggedAddress(m_page.currentUrl());
    emit statusChanged(QStringLiteral("Pagina de login carregada com sucesso"));
    const QString punctuatedCnpj = FormataCnpj(m_displayedCnpj);

    const bool login = m_page.EstaNaPagina(m_site.URLPagLogin);
    const bool cnpjPage = m_page.EstaNaPagina(m_site.URLPagPreencheCnpj);
    const bool result = m_page.EstaNaPagina(m_site.URLResultConsulta);
    // A page the walk knows answers the step before it; any other page leaves
    // the step's time running.
    if (login || cnpjPage || result) {
        m_pageTimer.stop();
        m_unknownPage.clear();
        m_openedWindow.clear();
    } else {
        m_unknownPage = m_page.currentUrl();
        qCInfo(lcQuery).noquote() << "página desconhecida:" << loggedAddress(m_unknownPage) << "aguardando a"
                                  << m_awaitedPage;
    }
    if (login)
        handleLogin();
    if (cnpjPage)
        handleCnpjPage(punctuatedCnpj);
    if (result)
        handleResult();
}

void QueryDriver::LoginClick(int index)
{
    if (!m_handling) {
        m_page.submitForms({index});
        awaitPage(index == 1 ? CnpjResult : LoginAnswer);
        return;
    }
    m_page.checkForm(index);
    m_heldForms.append(index);
}

void QueryDriver::handleLogin()
{
    if (m_loginSubmitted && (m_cnpjPageReached || m_cnpjSubmitted)) {
        throw AppError(WalkMessages::sessionExpired(m_cnpjSubmitted));
    }
    if (m_loginSubmitted) {
        m_loginRefused = true;
        throw AppError(WalkMessages::loginRefused());
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
    if (m_cnpjSubmitted) {
        throw AppError(WalkMessages::cnpjPageAgain());
    }
    m_cnpjPageReached = true;
    emit statusChanged(QStringLiteral("Consultando CNPJ ") + punctuatedCnpj);
    m_page.PreencheElemento(QStringLiteral("cnpj0"), punctuatedCnpj);
    emit statusChanged(QStringLiteral("Carregando consulta"));
    emit progressStep();
    // The form goes to the bureau once: a click that sent it (a submit button,
    // a handler that submits) is the submission; otherwise the form is
    // submitted. A form held meanwhile would replace the click's submission.
    m_cnpjSubmitted = true;
    if (m_page.ClicaElemento(m_site.TagBotaoCnsCnpj)) {
        m_heldForms.clear();
        awaitPage(CnpjResult);
    } else {
        LoginClick(1);
    }
    emit statusChanged(QStringLiteral("Consulta carregada com sucesso"));
    emit progressStep();
    qCInfo(lcQuery).noquote() << "página do CNPJ" << loggedAddress(m_site.URLPagPreencheCnpj) + u':' << "CNPJ"
                              << punctuatedCnpj << "enviado em" << m_elapsed.elapsed() << "ms";
}

void QueryDriver::handleResult()
{
    // One result per press of "Consultar CNPJ": the walk ends here, and a
    // reload of the result address is no longer seen.
    emit statusChanged(QStringLiteral("Salvando consulta"));
    finish();
    qCDebug(lcQuery).noquote() << "página de resultado" << loggedAddress(m_site.URLResultConsulta) + u':'
                               << "alcançada em" << m_elapsed.elapsed() << "ms";
    emit resultPageReached();
}
