#pragma once

#include "clientlookup.h"
#include "launcharguments.h"
#include "leparametro.h"
#include "queryarchive.h"
#include "siteparameters.h"

#include <QList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class TfoDeveZozuvor;
}

class DatabaseThread;
class QueryArchiver;
class QueryDriver;
class QWebEnginePage;
class QWebEngineProfile;

// The tool's one window: the client being queried, its archived queries, the
// browser that walks the bureau's site, a status line and a progress bar.
// It wires the workers (client lookup, archive, archiver, query driver) to the
// controls; the work itself lives in those classes.
class TfoDeveZozuvor : public QWidget
{
    Q_OBJECT

public:
    // arguments as the process got them: [0] the program, then up to three integers.
    explicit TfoDeveZozuvor(const QStringList &arguments, QWidget *parent = nullptr);
    ~TfoDeveZozuvor() override;

    // Where the capture folder is made; the program file's directory unless set before showing.
    void setProgramDirectory(const QString &directory);

    void IncProgresso();
    void SalvaPagina();
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
    const QString &PastaCapturas() const { return m_pastaCapturas; }
    QString CnpjDigitos() const;
    const SiteParameters &site() const { return m_site; }

    void setVisible(bool visible) override;

signals:
    // Start-up has ended: the client and its newest archived query are shown,
    // or the user has been told why not.
    void startUpFinished();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void ensureBrowser();
    void clientFound(const std::optional<Client> &client);
    void parametersRead(const QList<ParameterRead> &reads);
    void archiveOpened(const QList<ArchiveEntry> &entries);
    void endStartUp();
    void showImage(std::function<void()> shown);
    void queryStored(const QList<ArchiveEntry> &entries, int index);
    void querySucceeded(const QString &message);
    void showDatabaseWait(const QString &what, int seconds);
    void endDatabaseWait();
    void restartProgress(int maximum);
    void showTab(QWidget *page);
    void showClient();
    void showEntry(int index);
    void paintPendingNow();
    template<typename Handler>
    void connectClick(QWidget *button, Handler handler);

    std::unique_ptr<Ui::TfoDeveZozuvor> ui;
    // Made when the browser is first needed; the profile outlives its page.
    std::unique_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<QWebEnginePage> m_page;
    QueryDriver *m_driver = nullptr;
    DatabaseThread *m_database = nullptr;
    QueryArchiver *m_archiver = nullptr;
    QString m_statusBeforeWait;

    int m_pageTimeout = 0; // seconds; 0 for the driver's own
    LaunchArguments m_launch;
    bool m_launchRead = false;
    QString m_programDirectory;
    QString m_pastaCapturas;
    SiteParameters m_site;

    // Found at start-up; its entries in archive order, one current.
    std::optional<Client> m_client;
    bool m_archiveOpen = false;
    QList<ArchiveEntry> m_entries;
    int m_current = -1;
    quint64 m_imageRequest = 0; // the latest picture asked for

    bool m_shownOnce = false;
};
