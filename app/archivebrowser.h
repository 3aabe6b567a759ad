#pragma once

#include "clientlookup.h"
#include "queryarchive.h"

#include <QList>
#include <QObject>

#include <optional>

class DatabaseThread;
class PictureView;
class QLineEdit;

// The client's archived queries as the archive tab shows them: the entries in
// archive order, one of them current with its date, time and picture. The
// picture is read and decoded on the database thread; pictureShown() says
// when the current one is on screen, or when it failed and the user was told.
class ArchiveBrowser : public QObject
{
    Q_OBJECT

public:
    ArchiveBrowser(DatabaseThread *database, PictureView *picture, QLineEdit *date, QLineEdit *time,
                   QObject *parent = nullptr);

    // The archive as it stands for the client, and the entry to show (-1: none).
    void open(const Client &client, const QList<ArchiveEntry> &entries, int current);
    bool isOpen() const { return m_client.has_value(); }

    // The previous or next entry, staying at either end. Throws AppError on an
    // archive that was never opened.
    void step(int delta);

    // Shows the current entry's picture.
    void ListaImagem();

    // Shows the newest entry compared with the one before it.
    void compareWithPrevious();

signals:
    void pictureShown();
    // Whether the archive holds a previous report to compare with.
    void comparableChanged(bool comparable);

private:
    void showEntry(int index);

    DatabaseThread *m_database;
    PictureView *m_picture;
    QLineEdit *m_date;
    QLineEdit *m_time;
    std::optional<Client> m_client;
    QList<ArchiveEntry> m_entries;
    int m_current = -1;
    quint64 m_request = 0; // the latest picture asked for
};
