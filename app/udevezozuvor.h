#pragma once

#include "clientlookup.h"
#include "launcharguments.h"
#include "queryarchive.h"
#include "siteparameters.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

namespace Ui {
class TfoDeveZozuvor;
}

class ArchiveBrowser;
class DatabaseThread;
class QueryRoom;
class QuerySession;

// The tool's one window: the client being queried, its archived queries, the
// browser that walks the bureau's site, a status line and a progress bar.
// It wires the workers (start-up, archive browser, query session) to the
// controls and shows what they report; the work itself lives in them.
class TfoDeveZozuvor : public QWidget
{
    Q_OBJECT

public:
    // arguments as the process got them: [0] the program, then up to three integers.
    explicit TfoDeveZozuvor(const QStringList &arguments, QWidget *parent = nullptr);
    ~TfoDeveZozuvor() override;

    // Where the capture folder is made; the program file's directory unless set before showing.
    void setProgramDirectory(const QString &directory) { m_programDirectory = directory; }

    void IncProgresso();
    void SetaStatus(const QString &text);
    void ListaImagem();

    void JvXPButton2Click();
    void BotaoConsultarClick();
    void FormShow();
    void FormCreate(const QStringList &arguments);
    void Button1Click();
    void Button2Click();

    qint32 FilialAtual() const { return m_launch.FilialAtual; }
    qint32 CodCliforAtual() const { return m_launch.CodCliforAtual; }
    const QString &PastaCapturas() const;
    const SiteParameters &site() const;
    DatabaseThread *database() const { return m_database; }

    void setVisible(bool visible) override;

    // The browser's size in the stored layout, which the list's browser takes too.
    static QSize storedBrowserSize();

signals:
    // Start-up has ended: the client and its newest archived query are shown,
    // or the user has been told why not.
    void startUpFinished();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void endStartUp(bool clientKnown);
    void showClient(const Client &client);
    void lockForCapture(bool locked);
    void queryEnded(QuerySession *session);
    void showChanges(const Client &client, const QList<ArchiveEntry> &entries, int index);
    void showDatabaseWait(const QString &what, int seconds);
    void endDatabaseWait();
    void restartProgress(int maximum);
    void showTab(QWidget *page);
    void paintPendingNow();
    template<typename Handler>
    void connectClick(QWidget *button, Handler handler);

    std::unique_ptr<Ui::TfoDeveZozuvor> ui;
    DatabaseThread *m_database = nullptr;
    QueryRoom *m_room = nullptr; // the browser made when first needed
    ArchiveBrowser *m_archive = nullptr;
    QPointer<QuerySession> m_session;
    QString m_waitText;        // the status a database wait put up
    QString m_statusBeforeWait; // and the one it covered

    LaunchArguments m_launch;
    bool m_launchRead = false; // all of them converted
    QString m_programDirectory;
    std::optional<Client> m_client; // found at start-up
    bool m_shownOnce = false;
};
