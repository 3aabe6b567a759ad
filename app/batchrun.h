#pragma once

#include "clientlookup.h"
#include "launcharguments.h"
#include "queryarchive.h"
#include "siteparameters.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTextStream>

#include <memory>
#include <optional>

class DatabaseThread;
class QueryRoom;
class QuerySession;
struct ReportChanges;

// An unattended run over a list of clients of one branch: each client's query
// made by a QuerySession of the same query room as a press, in a browser shown
// on the offscreen platform. One line per client on standard output, the summary
// last; progress on standard error. finished() comes once, with the exit status.
class BatchRun : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { AllStored = 0, SomeFailed = 1, CouldNotStart = 2 };

    // Site failures in a row that stop the list.
    static constexpr int SiteFailuresToStop = 3;

    explicit BatchRun(BatchArguments batch, QObject *parent = nullptr);
    ~BatchRun() override;

    void start();

    // Ends the current client's query (a report being stored is stored whole
    // or not at all), lists the clients not tried, and finishes.
    void stop();

    DatabaseThread *database() const { return m_database; }

signals:
    void finished(int exitStatus);

private:
    void parametersRead();
    void next();
    void lookedUp(qint32 code, const std::optional<Client> &client);
    void query(const Client &client);
    void sessionFailed(QuerySession *session, const QString &message);
    void sessionStored(const Client &client, const QList<ArchiveEntry> &entries, int index);
    void countedChanges(const ReportChanges &changes);
    QString withWarning(const QString &detail) const;
    // The stored client's line, the PDF's failure after the change count.
    void reportStored(const QString &changes);
    void sessionEnded(QuerySession *session);
    void report(const QString &code, const QString &cnpj, bool stored, const QString &detail);
    void stopList(const QString &reason);
    void cannotStart(const QString &message);
    void finish();

    const BatchArguments m_batch;
    QTextStream m_out;
    QTextStream m_err;
    DatabaseThread *m_database = nullptr;
    QueryRoom *m_room = nullptr;
    QElapsedTimer m_elapsed;
    QPointer<QuerySession> m_session;
    Client m_client; // the one being queried
    QString m_warning; // what the stored query's success adds to its first line
    ArchiveEntry m_storedEntry;
    bool m_pdfFailed = false;
    bool m_counting = false; // the stored report's changes are being counted
    bool m_lookingUp = false; // the current client is being read from the database
    qsizetype m_next = 0; // the next client of the list
    int m_stored = 0;
    int m_failed = 0;
    int m_siteFailuresInRow = 0;
    QString m_stopReason; // why the clients left are not tried
    bool m_interrupted = false;
    bool m_finished = false;
};
