#include "queryroom.h"

#include "apperror.h"
#include "capturefolder.h"
#include "capturemarkers.h"
#include "capturescripts.h"
#include "cnpjtext.h"
#include "companyparameters.h"
#include "databasethread.h"
#include "dbengine.h"
#include "futurereply.h"
#include "launcharguments.h"
#include "logcategories.h"
#include "queryarchive.h"
#include "querysession.h"

#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

namespace {

// How often, and how many times, a shown view is asked whether the engine draws it again.
constexpr int ShownRecheckMs = 10;
constexpr int ShownTries = 200;

} // namespace

QueryRoom::QueryRoom(DatabaseThread *database, QWebEngineView *view, QObject *parent)
    : QObject(parent)
    , m_database(database)
    , m_view(view)
    // An administrator may give a slow site more time per page, in seconds.
    , m_pageTimeout(qEnvironmentVariableIntValue("DEVEZOZUVOR_PAGE_TIMEOUT"))
{
}

QueryRoom::QueryRoom(DatabaseThread *database, QSize browserSize, QObject *parent)
    : QueryRoom(database, nullptr, parent)
{
    m_ownView = std::make_unique<QWebEngineView>();
    m_ownView->resize(browserSize);
    m_view = m_ownView.get();
}

QueryRoom::~QueryRoom()
{
    // The view goes before its page, the page before its profile; the window's view is the window's.
    m_ownView.reset();
}

const QString &QueryRoom::prepareCaptureFolder(const QString &programDirectory)
{
    m_captureFolder = ::prepareCaptureFolder(programDirectory);
    return m_captureFolder;
}

void QueryRoom::readParameters(qint32 branch, Check check)
{
    auto readAll = [branch = QString::number(branch), check] {
        if (check == Check::StoreFirst) {
            // Nothing is sent to the bureau, and billed, that the archive could not take.
            checkDatabase();
            QueryArchive(Client{branch.toInt(), 0, {}, {}}).checkWritable();
        }
        return readSiteParameters(branch);
    };
    whenReady(
        m_database->post(QStringLiteral("leitura dos parâmetros"), std::move(readAll)), this,
        [this](const QList<ParameterRead> &reads) { fold(reads); },
        [this](const QString &message) { emit failed(message); });
}

void QueryRoom::fold(const QList<ParameterRead> &reads)
{
    m_site = {};
    for (qsizetype i = 0; i < reads.size() && i < qsizetype(std::size(siteParameterFields)); ++i) {
        if (!reads.at(i).failure.isEmpty())
            emit parameterFailed(parameterKeys().at(i), reads.at(i).failure);
        m_site.*siteParameterFields[i] = trimControl(reads.at(i).value);
    }
    emit parametersRead(m_site);
}

QString QueryRoom::siteRefusal(qint32 branch) const
{
    if (!m_site.URLConsulta.isEmpty())
        return {};
    return QStringLiteral("a filial %1 não tem o endereço do site (parâmetro %2)")
        .arg(branch)
        .arg(parameterKeys().at(0));
}

QWebEngineView *QueryRoom::browser()
{
    if (!m_page) {
        // An off-the-record profile: no cookie or cache outlives the run.
        m_profile = std::make_unique<QWebEngineProfile>();
        m_page = std::make_unique<QWebEnginePage>(m_profile.get());
        m_view->setPage(m_page.get());
        if (m_ownView)
            m_ownView->show();
    }
    return m_view;
}

QuerySession *QueryRoom::newQuery(const Client &client, const QString &cnpj, QObject *parent)
{
    if (const QString refusal = cnpjRefusal(client, cnpj); !refusal.isEmpty())
        throw AppError(refusal);
    return new QuerySession(browser(), m_database,
                            {client, cnpj, m_captureFolder + captureFileName(cnpj), m_site, m_pageTimeout}, parent);
}

void QueryRoom::start(QuerySession *session)
{
    // The previous capture hides the view for a moment to free its memory; a walk on a hidden view stalls.
    if (CaptureMarkers *markers = CaptureMarkers::of(browser()); markers->isReleasing()) {
        qCInfo(lcQuery) << "consulta aguarda a captura anterior liberar a memória do navegador";
        connect(markers, &CaptureMarkers::released, session, [this, session] { start(session); },
                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    startWhenShown(session, ShownTries);
}

void QueryRoom::startWhenShown(QuerySession *session, int triesLeft)
{
    if (session->hasStarted())
        return;
    // A view off screen (the window's other tab) is shown by the query itself; one on screen is waited for.
    // A page whose renderer ended answers no script: the walk's first load starts a new one.
    if (!m_view->isVisible() || triesLeft <= 0 || m_view->page()->renderProcessPid() <= 0) {
        if (triesLeft <= 0)
            qCWarning(lcQuery) << "o navegador não voltou a desenhar a página; a consulta começa assim mesmo";
        session->start();
        return;
    }
    // The page is asked at each tick, not only once answered: a page whose process has gone never answers.
    const QPointer<QuerySession> alive(session);
    m_view->page()->runJavaScript(CaptureScripts::visibilityState(), QWebEngineScript::ApplicationWorld,
                                  [alive](const QVariant &answer) {
                                      if (alive && answer.toMap().value(QStringLiteral("ok")).toString() != u"hidden")
                                          alive->start();
                                  });
    QTimer::singleShot(ShownRecheckMs, session, [this, session, triesLeft] { startWhenShown(session, triesLeft - 1); });
}
