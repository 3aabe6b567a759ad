#pragma once

#include "clientlookup.h"
#include "queryarchive.h"

#include <QList>
#include <QObject>
#include <QString>

class DatabaseThread;
class QWebEngineView;

// Archives a query's result page: captures the page the browser shows into the
// capture file, then stores that file as the client's newest query on the
// database thread. Reports back by signals, exactly one of stored() or failed()
// per archive(), unless the user leaves first.
class QueryArchiver : public QObject
{
    Q_OBJECT

public:
    explicit QueryArchiver(DatabaseThread *database, QObject *parent = nullptr);

    // Captures now, returning once the file is written (or the capture failed),
    // and posts the store.
    void archive(QWebEngineView *view, const QString &captureFile, const Client &client);

signals:
    // The capture is written; the store is on its way.
    void storing();
    // The client's archive after the store, and where the stored query lies in it.
    void stored(const QList<ArchiveEntry> &entries, int index);
    void failed(const QString &message);

private:
    DatabaseThread *m_database;
};
