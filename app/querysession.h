#pragma once

#include "clientlookup.h"
#include "queryarchive.h"
#include "siteparameters.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <chrono>

class DatabaseThread;
class QueryDriver;
class QWebEngineView;

// Why the client's CNPJ is not sent to the bureau, as the user is told; empty
// when it can be: a query for a CNPJ that cannot exist would be billed, and its
// answer archived as the client's report.
QString cnpjRefusal(const Client &client, const QString &cnpj);

// One press of "Consultar CNPJ", from the press to its one ending: the walk
// through the bureau's site, the capture of the result page, its store as the
// client's newest query, and the ending, told once by succeeded() or failed()
// and then ended(). abandon() ends it without a word. The window makes it,
// connects to it and shows what it reports.
class QuerySession : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        Client client;
        QString displayedCnpj; // the client's CNPJ as the window shows it
        QString captureFile;
        SiteParameters site; // as they stood at the press
        std::chrono::milliseconds pageTimeout{0}; // 0: the walk's own
    };

    QuerySession(QWebEngineView *view, DatabaseThread *database, Request request, QObject *parent = nullptr);
    ~QuerySession() override;

    void start();

    // Ends the query silently: its waits end, and nothing more is typed,
    // submitted, stored or told.
    void abandon();

    // start() has been called (or the query abandoned before it).
    bool hasStarted() const { return m_stage != Stage::Ready; }

    // The report is being captured or stored: the query runs to its end.
    bool isArchiving() const { return m_stage == Stage::Archiving; }

    // Where a failed query failed: here (the database, the capture, the store),
    // at the site, or at the site's refusal of the login.
    enum class Failure { None, Local, Site, LoginRefused };
    Failure failure() const { return m_failure; }

    // What the stored report may lack, one Portuguese line each (the page still
    // loading, a report in another site's frame); the success box's lines after its first.
    QStringList captureWarnings() const;

signals:
    void progressRestarted(int maximum);
    void progressStep();
    void statusChanged(const QString &text);
    // The browser is what the user follows now.
    void queryStarted();
    // The page is being drawn for the capture: the browser must stay on screen as it is.
    void captureRunning(bool running);
    // The client's archive after the store, and where the new query lies in it.
    void stored(const Client &client, const QList<ArchiveEntry> &entries, int index);
    void succeeded(const QString &message);
    void failed(const QString &message);
    void ended();

private:
    enum class Stage { Ready, Walking, Archiving, Ended };

    void walk();
    void SalvaPagina();
    void storeCapture();
    void storeCommitted(const QList<ArchiveEntry> &entries, const ArchiveEntry &entry);
    void fail(const QString &status, const QString &message, Failure failure = Failure::Local);

    QWebEngineView *m_view;
    DatabaseThread *m_database;
    const Request m_request;
    QueryDriver *m_driver = nullptr;
    Stage m_stage = Stage::Ready;
    Failure m_failure = Failure::None;
    QElapsedTimer m_elapsed; // since the press, for the log
    QDeadlineTimer m_settleDeadline; // from the result page's load
    bool m_capturedUnsettled = false; // the page was still loading when the bound ran out
    bool m_reportMayBeCut = false;    // the report lay in another site's frame, captured as shown
};
