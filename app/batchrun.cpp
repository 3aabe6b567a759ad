#include "batchrun.h"

#include "apperror.h"
#include "batchpdf.h"
#include "cnpjtext.h"
#include "databasethread.h"
#include "futurereply.h"
#include "logcategories.h"
#include "queryroom.h"
#include "querysession.h"
#include "reportchanges.h"
#include "udevezozuvor.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <utility>

BatchRun::BatchRun(BatchArguments batch, QObject *parent)
    : QObject(parent)
    , m_batch(std::move(batch))
    , m_out(stdout)
    , m_err(stderr)
{
    m_database = new DatabaseThread(this);
    m_room = new QueryRoom(m_database, TfoDeveZozuvor::storedBrowserSize(), this);
}

BatchRun::~BatchRun()
{
    // The query goes before the view it drives.
    delete m_session;
}

void BatchRun::start()
{
    m_elapsed.start();
    m_room->prepareCaptureFolder(QCoreApplication::applicationDirPath());
    // The database, the archive and the branch's parameters are checked before any client is tried.
    connect(m_room, &QueryRoom::parameterFailed, this, [this](const QString &key, const QString &failure) {
        cannotStart(QStringLiteral("Erro na leitura de parametro %1: %2").arg(key, failure));
    });
    connect(m_room, &QueryRoom::parametersRead, this, &BatchRun::parametersRead);
    connect(m_room, &QueryRoom::failed, this, &BatchRun::cannotStart);
    m_room->readParameters(m_batch.branch, QueryRoom::Check::StoreFirst);
}

void BatchRun::parametersRead()
{
    if (m_finished)
        return;
    if (const QString refusal = m_room->siteRefusal(m_batch.branch); !refusal.isEmpty()) {
        cannotStart(refusal);
        return;
    }
    next();
}

void BatchRun::next()
{
    if (m_finished)
        return;
    if (m_interrupted)
        stopList(QStringLiteral("execução interrompida"));
    if (!m_stopReason.isEmpty() || m_next >= m_batch.clients.size()) {
        finish();
        return;
    }
    const qint32 code = m_batch.clients.at(m_next++);
    m_err << m_next << u'/' << m_batch.clients.size() << QStringLiteral(" cliente ") << code << QStringLiteral("…")
          << Qt::endl;
    m_lookingUp = true;
    whenReady(
        m_database->post(QStringLiteral("leitura do cliente"),
                         [branch = m_batch.branch, code] { return findClient(branch, code); }),
        this, [this, code](const std::optional<Client> &client) { lookedUp(code, client); },
        [this, code](const QString &message) {
            if (!std::exchange(m_lookingUp, false))
                return;
            report(QString::number(code), QString(), false, message);
            next();
        });
}

void BatchRun::lookedUp(qint32 code, const std::optional<Client> &client)
{
    if (!std::exchange(m_lookingUp, false))
        return;
    if (!client) {
        report(QString::number(code), QString(), false, QStringLiteral("Erro ao localizar cliente para pesquisar..."));
        next();
        return;
    }
    query(*client);
}

void BatchRun::query(const Client &client)
{
    m_client = client;
    m_warning.clear();
    QuerySession *session = nullptr;
    try {
        session = m_room->newQuery(client, client.cgc, this);
    } catch (const AppError &refusal) {
        report(QString::number(client.codClifor), client.cgc, false, refusal.message());
        next();
        return;
    }
    m_session = session;
    connect(session, &QuerySession::stored, this, &BatchRun::sessionStored);
    // What the window's box adds after its first line, the line's detail adds.
    connect(session, &QuerySession::succeeded, this,
            [this, session] { m_warning = session->captureWarnings().join(u' '); });
    connect(session, &QuerySession::failed, this,
            [this, session](const QString &message) { sessionFailed(session, message); });
    connect(session, &QuerySession::ended, this, [this, session] { sessionEnded(session); });
    m_room->start(session);
}

void BatchRun::sessionFailed(QuerySession *session, const QString &message)
{
    report(QString::number(m_client.codClifor), m_client.cgc, false, message);
    // Every client after a refused login would be refused too, each try a request to the site.
    if (session->failure() == QuerySession::Failure::LoginRefused)
        stopList(QStringLiteral("o site recusou o login"));
    else if (session->failure() == QuerySession::Failure::Site && ++m_siteFailuresInRow >= SiteFailuresToStop)
        stopList(QStringLiteral("%1 falhas seguidas do site").arg(SiteFailuresToStop));
}

void BatchRun::sessionStored(const Client &client, const QList<ArchiveEntry> &entries, int index)
{
    m_siteFailuresInRow = 0;
    m_storedEntry = entries.value(index);
    m_counting = true;
    whenReady(
        countReportChanges(m_database, client, entries, index), this,
        [this](const ReportChanges &changes) { countedChanges(changes); },
        [this](const QString &message) {
            m_counting = false;
            reportStored(QStringLiteral("mudanças não contadas: ") + message);
            next();
        });
}

void BatchRun::countedChanges(const ReportChanges &changes)
{
    m_counting = false;
    reportStored(changes.detail());
    next();
}

QString BatchRun::withWarning(const QString &detail) const
{
    return m_warning.isEmpty() ? detail : detail + QStringLiteral(". ") + m_warning;
}

void BatchRun::reportStored(const QString &changes)
{
    QString pdfFailure;
    if (!m_batch.pdfFolder.isEmpty())
        pdfFailure = writeStoredReportPdf(m_batch.pdfFolder, m_client, m_storedEntry,
                                          m_room->captureFolder() + captureFileName(m_client.cgc));
    m_pdfFailed = m_pdfFailed || !pdfFailure.isEmpty();
    report(QString::number(m_client.codClifor), m_client.cgc, true,
           withWarning(pdfFailure.isEmpty() ? changes : changes + QStringLiteral("; PDF não gravado: ") + pdfFailure));
}

void BatchRun::sessionEnded(QuerySession *session)
{
    session->deleteLater();
    m_session.clear();
    if (!m_counting)
        QTimer::singleShot(0, this, &BatchRun::next);
}

void BatchRun::stop()
{
    if (m_interrupted || m_finished)
        return;
    m_interrupted = true;
    m_err << QStringLiteral("interrompido: a consulta em andamento termina e a lista para") << Qt::endl;
    // A lookup only reads: its client is left untried, without waiting for a database that may not answer.
    if (std::exchange(m_lookingUp, false)) {
        --m_next;
        next();
        return;
    }
    // A report being captured or stored runs to its end: stored whole, or not at all.
    if (!m_session || m_session->isArchiving())
        return;
    QuerySession *session = m_session;
    m_session.clear();
    session->abandon();
    session->deleteLater();
    report(QString::number(m_client.codClifor), m_client.cgc, false,
           QStringLiteral("interrompida antes de ser salva"));
    QTimer::singleShot(0, this, &BatchRun::next);
}

void BatchRun::report(const QString &code, const QString &cnpj, bool stored, const QString &detail)
{
    ++(stored ? m_stored : m_failed);
    QString oneLine = detail;
    oneLine.replace(u'\r', u' ').replace(u'\n', u' ').replace(u'\t', u' ');
    m_out << code << u'\t' << cnpj << u'\t' << (stored ? "salva" : "falhou") << u'\t' << oneLine.simplified()
          << Qt::endl;
}

void BatchRun::stopList(const QString &reason)
{
    if (m_stopReason.isEmpty())
        m_stopReason = reason;
}

void BatchRun::cannotStart(const QString &message)
{
    if (m_finished)
        return;
    m_finished = true;
    m_err << QStringLiteral("DeveZozuvor --lote: ") << message << Qt::endl;
    emit finished(CouldNotStart);
}

void BatchRun::finish()
{
    m_finished = true;
    for (; m_next < m_batch.clients.size(); ++m_next)
        report(QString::number(m_batch.clients.at(m_next)), QString(), false,
               QStringLiteral("não consultado: ") + m_stopReason);
    m_out << QStringLiteral("%1 salvas, %2 falharam em %3 s").arg(m_stored).arg(m_failed).arg(
                 qRound(m_elapsed.elapsed() / 1000.0))
          << Qt::endl;
    qCInfo(lcQuery).noquote() << "lote da filial" << m_batch.branch << "terminado:" << m_stored << "salvas,"
                              << m_failed << "falharam em" << m_elapsed.elapsed() << "ms";
    emit finished(m_failed > 0 || m_interrupted || m_pdfFailed ? SomeFailed : AllStored);
}
