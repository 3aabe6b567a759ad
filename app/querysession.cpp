#include "querysession.h"

#include "apperror.h"
#include "capturefolder.h"
#include "cnpjtext.h"
#include "databasethread.h"
#include "dbengine.h"
#include "futurereply.h"
#include "logcategories.h"
#include "pagecapture.h"
#include "querydriver.h"
#include "reportsettle.h"
#include "scriptrunner.h"

#include <QWebEngineView>

#include <utility>

QString cnpjRefusal(const Client &client, const QString &cnpj)
{
    if (isValidCnpj(cnpj))
        return {};
    const QString who = QStringLiteral("%1 (%2)").arg(client.codClifor).arg(client.nome.trimmed());
    return cnpj.trimmed().isEmpty()
               ? QStringLiteral("O cliente %1 não tem CNPJ cadastrado (\"%2\"): a consulta não foi feita").arg(who, cnpj)
               : QStringLiteral("O CNPJ do cliente %1 não é válido (\"%2\"): a consulta não foi feita").arg(who, cnpj);
}

QuerySession::QuerySession(QWebEngineView *view, DatabaseThread *database, Request request, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_database(database)
    , m_request(std::move(request))
{
}

QuerySession::~QuerySession()
{
    abandon();
}

void QuerySession::start()
{
    // Once: an abandoned query stays ended.
    if (m_stage != Stage::Ready)
        return;
    m_elapsed.start();
    m_stage = Stage::Walking;
    // A database known to be lost is found before the bureau bills the query.
    whenReady(
        m_database->post(QStringLiteral("verificação do banco de dados"), [] { checkDatabase(); }), this,
        [this] {
            if (m_stage == Stage::Walking)
                walk();
        },
        [this](const QString &message) { fail(QString(), message); });
}

void QuerySession::walk()
{
    ReportSettle::prepare(m_view->page());
    m_driver = new QueryDriver(m_view, m_request.site, m_request.displayedCnpj, this);
    if (m_request.pageTimeout.count() > 0)
        m_driver->setPageTimeout(m_request.pageTimeout);
    connect(m_driver, &QueryDriver::progressRestarted, this, &QuerySession::progressRestarted);
    connect(m_driver, &QueryDriver::progressStep, this, &QuerySession::progressStep);
    connect(m_driver, &QueryDriver::statusChanged, this, &QuerySession::statusChanged);
    connect(m_driver, &QueryDriver::queryStarted, this, &QuerySession::queryStarted);
    connect(m_driver, &QueryDriver::failed, this, [this](const QString &message) {
        fail(QString(), message, m_driver->loginRefused() ? Failure::LoginRefused : Failure::Site);
    });
    // The capture runs once the engine has finished telling of the load.
    connect(m_driver, &QueryDriver::resultPageReached, this, [this] {
        m_settleDeadline = QDeadlineTimer(ReportSettle::LimitMs);
        QMetaObject::invokeMethod(this, &QuerySession::SalvaPagina, Qt::QueuedConnection);
    });
    m_driver->start();
}

void QuerySession::abandon()
{
    if (m_stage == Stage::Ended)
        return;
    const Stage stage = std::exchange(m_stage, Stage::Ended);
    if (m_driver)
        m_driver->cancel();
    // A capture in progress ends at its next wait on the page.
    if (stage == Stage::Archiving)
        ScriptRunner::cancelWaits(m_view->page());
}

void QuerySession::fail(const QString &status, const QString &message, Failure failure)
{
    if (m_stage == Stage::Ended)
        return;
    m_stage = Stage::Ended;
    m_failure = failure;
    if (!status.isEmpty())
        emit statusChanged(status);
    emit failed(message);
    emit ended();
}

void QuerySession::SalvaPagina()
{
    if (m_stage != Stage::Walking)
        return;
    m_stage = Stage::Archiving;
    emit captureRunning(true);
    // Its waits on the page let the window run; whoever deletes the session then ends it here.
    const QPointer<QuerySession> alive(this);
    try {
        // A report that its scripts fill after the load is captured once filled;
        // one whose state cannot be read is captured as it stands.
        QString unsettled;
        bool settled = false;
        try {
            settled = ReportSettle::wait(m_view->page(), m_settleDeadline, &unsettled);
        } catch (const AppError &error) {
            unsettled = error.message();
        }
        // The bound ran out with the page still loading, or its state could not
        // be read: the report may lack a part, and the user is told so.
        m_capturedUnsettled = !settled;
        if (!settled) {
            qCWarning(lcCapture).noquote() << "página de resultado capturada sem se assentar em"
                                           << ReportSettle::LimitMs << "ms:" << unsettled;
        }
        runLoggedCapture(m_request.captureFile, [this] {
            m_reportMayBeCut = PageCapture(m_view).captureTo(m_request.captureFile).foreignFrame;
        });
    } catch (const Cancelled &) {
        if (alive)
            emit captureRunning(false);
        return;
    } catch (...) {
        const QString message = currentFailureMessage();
        if (!alive)
            return;
        emit captureRunning(false);
        fail(QStringLiteral("Consulta não salva"), message);
        return;
    }
    emit captureRunning(false);
    if (m_stage == Stage::Archiving)
        storeCapture();
}

QStringList QuerySession::captureWarnings() const
{
    QStringList warnings;
    if (m_capturedUnsettled)
        warnings << QStringLiteral("A página ainda estava carregando quando foi capturada; confira a consulta.");
    if (m_reportMayBeCut)
        warnings << QStringLiteral("O relatório está num quadro de outro site e pode ter saído cortado; confira a "
                                   "consulta.");
    return warnings;
}

void QuerySession::storeCapture()
{
    auto job = [client = m_request.client, file = m_request.captureFile](const std::atomic<bool> &abandoned) {
        return QueryArchive(client).store(file, abandoned);
    };
    whenReady(
        m_database->post(QStringLiteral("gravação da consulta"), std::move(job)), this,
        [this](const StoredQuery &done) { storeCommitted(done.entries, done.entry); },
        [this](const QString &message) { fail(QStringLiteral("Consulta não salva"), message); });
}

void QuerySession::storeCommitted(const QList<ArchiveEntry> &entries, const ArchiveEntry &entry)
{
    if (m_stage != Stage::Archiving)
        return;
    m_stage = Stage::Ended;
    int index = int(entries.size()) - 1;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).address == entry.address)
            index = i;
    }
    qCInfo(lcQuery).noquote() << "página de resultado" << loggedAddress(m_request.site.URLResultConsulta) + u':'
                              << "consulta salva em" << m_elapsed.elapsed() << "ms";
    emit stored(m_request.client, entries, index);
    emit progressStep();
    emit statusChanged(QStringLiteral("Consulta salva com sucesso"));
    QString message = QStringLiteral("Consulta realizada com sucesso para este cnpj!");
    for (const QString &warning : captureWarnings())
        message += u'\n' + warning;
    emit succeeded(message);
    emit ended();
}
