#pragma once

#include "clientlookup.h"
#include "launcharguments.h"
#include "leparametro.h"
#include "queryarchive.h"
#include "siteparameters.h"

#include <QObject>

#include <optional>

class ArchiveBrowser;
class DatabaseThread;
class QueryRoom;

// The run's start-up once the window is on screen: the client looked up, the
// branch's ten parameters read by the query room, the client's archive opened with its newest
// entry shown. Each step is a job on the database thread; what it finds is
// told by the signals, failures by boxes, and finished() comes once, last.
class StartUp : public QObject
{
    Q_OBJECT

public:
    // launch: the launch arguments, or none when they did not convert.
    StartUp(DatabaseThread *database, QueryRoom *room, ArchiveBrowser *archive, std::optional<LaunchArguments> launch,
            QObject *parent = nullptr);

    void run();

signals:
    void clientFound(const Client &client);
    // clientKnown: a query can be made for the client.
    void finished(bool clientKnown);

private:
    void lookedUp(const std::optional<Client> &client);
    void openArchive();
    void archiveOpened(const QList<ArchiveEntry> &entries);
    void fail(const QString &message);

    DatabaseThread *m_database;
    QueryRoom *m_room;
    ArchiveBrowser *m_archive;
    std::optional<LaunchArguments> m_launch;
    Client m_client;
};
