#pragma once

#include "launcharguments.h"
#include "querydriver.h"
#include "siteparameters.h"

#include <QQueue>
#include <QWidget>

#include <memory>

namespace Ui {
class TfoDeveZozuvor;
}

class DataSource;
class PageAccess;
class QueryArchive;
class QWebEnginePage;
class QWebEngineProfile;
class Table;

// The tool's one window: the client being queried, its archived queries, the
// browser that walks the bureau's site, a status line and a progress bar.
// It wires the workers (tables, archive, page access, capture, query driver)
// to the controls; the work itself lives in those classes.
class TfoDeveZozuvor : public QWidget, private QueryHost
{
    Q_OBJECT

public:
    // arguments as the process got them: [0] the program, then up to three integers.
    explicit TfoDeveZozuvor(const QStringList &arguments, QWidget *parent = nullptr);
    ~TfoDeveZozuvor() override;

    // Where the capture folder is made; the program file's directory unless set before showing.
    void setProgramDirectory(const QString &directory);

    void LoginClick(int index) override;
    void IncProgresso() override;
    void SalvaPagina() override;
    void SetaStatus(const QString &text) override;
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
    const QString &CnpjDigitos() const { return m_cnpjDigitos; }
    const SiteParameters &site() const { return m_site; }

    void setVisible(bool visible) override;

private:
    // QueryHost
    void restartProgress(int maximum) override;
    void showTab(int index) override;
    QString displayedCnpj() const override;
    void setCnpjDigitos(const QString &digits) override;
    void announceSuccess(const QString &text) override;

    void documentLoaded(bool ok);
    void handleDocument(bool ok);
    void paintPendingNow();
    template<typename Handler>
    void connectClick(QWidget *button, Handler handler);

    // The profile must outlive its page, and the page its view.
    std::unique_ptr<QWebEngineProfile> m_profile;
    std::unique_ptr<Ui::TfoDeveZozuvor> ui;
    std::unique_ptr<QWebEnginePage> m_page;

    Table *TClifor = nullptr;
    Table *TDeveZozuvor = nullptr;
    DataSource *dsTClifor = nullptr;
    DataSource *dsTDeveZozuvor = nullptr;
    std::unique_ptr<QueryArchive> m_archive;
    std::unique_ptr<PageAccess> m_pageAccess;
    std::unique_ptr<QueryDriver> m_driver;

    LaunchArguments m_launch;
    QString m_programDirectory;
    QString m_pastaCapturas;
    QString m_cnpjDigitos;
    SiteParameters m_site;

    bool m_shownOnce = false;
    // Documents that finish loading while a handler still waits on the page
    // are handled after it returns, in order.
    bool m_handlingDocument = false;
    QQueue<bool> m_pendingDocuments;
};
