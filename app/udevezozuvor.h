#pragma once

#include "clientlookup.h"
#include "launcharguments.h"
#include "queryarchive.h"
#include "siteparameters.h"

#include <QList>
#include <QWidget>

#include <memory>
#include <optional>

namespace Ui {
class TfoDeveZozuvor;
}

class DatabaseThread;
class QueryDriver;
class QWebEnginePage;
class QWebEngineProfile;

// The tool's one window: the client being queried, its archived queries, the
// browser that walks the bureau's site, a status line and a progress bar.
// It wires the workers (client lookup, archive, capture, query driver) to the
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

    void LoginClick(int index);
    void IncProgresso();
    void SalvaPagina();
    void SetaStatus(const QString &text);
    void ListaImagem();
    void GravaConsulta();

    void JvXPButton2Click();
    void WebBrowser1DocumentComplete(bool ok);
    void BotaoConsultarClick();
    void FormShow();
    void FormCreate(const QStringList &arguments);
    void Button1Click();
    void Button2Click();

    qint32 FilialAtual() const { return m_launch.FilialAtual; }
    qint32 CodCliforAtual() const { return m_launch.CodCliforAtual; }
    const QString &PastaCapturas() const { return m_pastaCapturas; }
    const QString &CnpjDigitos() const;
    const SiteParameters &site() const { return m_site; }

    void setVisible(bool visible) override;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    bool isBusy() const;
    void showDatabaseWait(const QString &what, int seconds);
    void endDatabaseWait();
    void restartProgress(int maximum);
    void showTab(int index);
    void showClient();
    void showEntry(int index);
    void announceSuccess(const QString &text);
    void paintPendingNow();
    template<typename Handler>
    void connectClick(QWidget *button, Handler handler);

    // The profile must outlive its page, and the page its view.
    std::unique_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<Ui::TfoDeveZozuvor> ui;
    std::unique_ptr<QWebEnginePage> m_page;
    QueryDriver *m_driver = nullptr;
    DatabaseThread *m_database = nullptr;
    QString m_statusBeforeWait;

    LaunchArguments m_launch;
    QString m_programDirectory;
    QString m_pastaCapturas;
    SiteParameters m_site;

    std::optional<Client> m_client;
    // Opened once the client is found; its entries in archive order, one current.
    std::shared_ptr<QueryArchive> m_archive;
    QList<ArchiveEntry> m_entries;
    int m_current = -1;

    bool m_shownOnce = false;
    bool m_closed = false;
};
