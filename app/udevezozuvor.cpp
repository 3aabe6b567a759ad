#include "udevezozuvor.h"
#include "ui_udevezozuvor.h"

#include "apperror.h"
#include "cnpjtext.h"
#include "databasethread.h"
#include "capturefolder.h"
#include "companyparameters.h"
#include "errorreport.h"
#include "jpegcodec.h"
#include "leparametro.h"
#include "messagebox.h"
#include "pagecapture.h"
#include "querydriver.h"
#include "systemlocale.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QScreen>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

AppError closedArchive()
{
    return AppError(QStringLiteral("TDeveZozuvor: Cannot perform this operation on a closed dataset"));
}

} // namespace

TfoDeveZozuvor::TfoDeveZozuvor(const QStringList &arguments, QWidget *parent)
    : QWidget(parent)
    , m_profile(std::make_unique<QWebEngineProfile>())
    , ui(std::make_unique<Ui::TfoDeveZozuvor>())
    , m_programDirectory(QCoreApplication::applicationDirPath())
{
    // The stored layout is measured in "MS Sans Serif"; where it is missing, a
    // face of Arial's metrics keeps the captions inside their places.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("Arial"), QStringLiteral("DejaVu Sans Condensed")});
    ui->setupUi(this);
    setObjectName(QStringLiteral("foDeveZozuvor"));

    // An off-the-record profile: no cookie or cache outlives the run.
    m_page = std::make_unique<QWebEnginePage>(m_profile.get());
    ui->WebBrowser1->setPage(m_page.get());
    connect(m_page.get(), &QWebEnginePage::loadFinished, this, &TfoDeveZozuvor::WebBrowser1DocumentComplete);

    m_database = new DatabaseThread(this);
    connect(m_database, &DatabaseThread::waiting, this, &TfoDeveZozuvor::showDatabaseWait);
    connect(m_database, &DatabaseThread::waitEnded, this, &TfoDeveZozuvor::endDatabaseWait);

    m_driver = new QueryDriver(ui->WebBrowser1, m_site, this);
    m_driver->setResultHandler([this] { SalvaPagina(); });
    // An administrator may give a slow site more time per page, in seconds.
    bool timeoutSet = false;
    const int pageTimeout = qEnvironmentVariableIntValue("DEVEZOZUVOR_PAGE_TIMEOUT", &timeoutSet);
    if (timeoutSet && pageTimeout > 0)
        m_driver->setPageTimeout(std::chrono::seconds(pageTimeout));
    connect(m_driver, &QueryDriver::progressRestarted, this, &TfoDeveZozuvor::restartProgress);
    connect(m_driver, &QueryDriver::progressStep, this, &TfoDeveZozuvor::IncProgresso);
    connect(m_driver, &QueryDriver::statusChanged, this, &TfoDeveZozuvor::SetaStatus);
    connect(m_driver, &QueryDriver::tabRequested, this, &TfoDeveZozuvor::showTab);
    connect(m_driver, &QueryDriver::succeeded, this, &TfoDeveZozuvor::announceSuccess);
    connect(m_driver, &QueryDriver::failed, this, &ErrorReport::show);

    connectClick(ui->BotaoConsultar, &TfoDeveZozuvor::BotaoConsultarClick);
    connectClick(ui->JvXPButton2, &TfoDeveZozuvor::JvXPButton2Click);
    connectClick(ui->Button1, &TfoDeveZozuvor::Button1Click);
    connectClick(ui->Button2, &TfoDeveZozuvor::Button2Click);

    ErrorReport::guard([&] { FormCreate(arguments); });
}

TfoDeveZozuvor::~TfoDeveZozuvor()
{
    // The view goes first, then its page, then the profile.
    delete ui->WebBrowser1;
}

template<typename Handler>
void TfoDeveZozuvor::connectClick(QWidget *button, Handler handler)
{
    connect(static_cast<QAbstractButton *>(button), &QAbstractButton::clicked, this,
            [this, handler] { ErrorReport::guard([this, handler] { (this->*handler)(); }); });
}

void TfoDeveZozuvor::setProgramDirectory(const QString &directory)
{
    m_programDirectory = directory;
}

void TfoDeveZozuvor::setVisible(bool visible)
{
    if (visible && !m_shownOnce) {
        m_shownOnce = true;
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        // Start-up runs before the window appears, so its boxes come first.
        ErrorReport::guard([this] { FormShow(); });
        if (m_closed)
            return; // "Sair" while start-up waited on the database
    }
    QWidget::setVisible(visible);
}

void TfoDeveZozuvor::FormCreate(const QStringList &arguments)
{
    readLaunchArguments(arguments, m_launch);
}

void TfoDeveZozuvor::FormShow()
{
    ui->PageControl1->setCurrentIndex(0);
    m_pastaCapturas = prepareCaptureFolder(m_programDirectory);

    try {
        m_client = m_database->run(QStringLiteral("leitura do cliente"),
                                   [filial = FilialAtual(), cod = CodCliforAtual()] { return findClient(filial, cod); });
    } catch (...) {
        // Without a client there is nothing to query.
        ui->BotaoConsultar->setEnabled(false);
        throw;
    }
    if (!m_client) {
        MessageBox::error(QStringLiteral("Erro ao localizar cliente para pesquisar..."));
        ui->BotaoConsultar->setEnabled(false);
        return;
    }
    showClient();

    const QString branch = QString::number(FilialAtual());
    const QStringList &keys = parameterKeys();
    for (qsizetype i = 0; i < keys.size(); ++i)
        *m_site.fields[i] = trimControl(LeParametro(*m_database, QStringLiteral("Tervik"), branch, keys.at(i)));

    m_archive = m_database->run(QStringLiteral("abertura do arquivo de consultas"),
                                [client = *m_client] { return std::make_shared<QueryArchive>(client); });
    m_entries = m_database->run(QStringLiteral("leitura do arquivo de consultas"),
                                [archive = m_archive] { return archive->entries(); });
    if (!m_entries.isEmpty()) {
        showEntry(int(m_entries.size()) - 1);
        ListaImagem();
    } else {
        MessageBox::information(QStringLiteral("Nenhuma consulta realizada para o cnpj ") + ui->DbeCnpj->text()
                                + QStringLiteral(", clique em CONSULTA CNPJ para prosseguir..."));
    }
}

void TfoDeveZozuvor::showClient()
{
    ui->DBEdit1->setText(m_client ? QString::number(m_client->codClifor) : QString());
    ui->DBEdit2->setText(m_client ? m_client->nome : QString());
    ui->DbeCnpj->setText(m_client ? m_client->cgc : QString());
}

void TfoDeveZozuvor::showEntry(int index)
{
    m_current = index;
    const ArchiveEntry *entry = index >= 0 && index < m_entries.size() ? &m_entries.at(index) : nullptr;
    ui->DBEdit3->setText(entry ? archiveDateText(entry->date) : QString());
    ui->DBEdit4->setText(entry ? archiveTimeText(entry->time) : QString());
}

void TfoDeveZozuvor::paintPendingNow()
{
    // The status line and the bar are painted by the window's backing store:
    // flushing its pending update paints whatever is invalid, right now.
    QCoreApplication::sendPostedEvents(window(), QEvent::UpdateRequest);
}

void TfoDeveZozuvor::SetaStatus(const QString &text)
{
    if (ui->LStatus->text() != text)
        ui->LStatus->setText(text);
    paintPendingNow();
}

void TfoDeveZozuvor::IncProgresso()
{
    ui->JvXPProgressBar1->setPosition(ui->JvXPProgressBar1->position() + 1);
    paintPendingNow();
}

void TfoDeveZozuvor::restartProgress(int maximum)
{
    ui->JvXPProgressBar1->setPosition(0);
    ui->JvXPProgressBar1->setMaximum(maximum);
}

void TfoDeveZozuvor::showTab(int index)
{
    ui->PageControl1->setCurrentIndex(index);
}

const QString &TfoDeveZozuvor::CnpjDigitos() const
{
    return m_driver->cnpjDigitos();
}

void TfoDeveZozuvor::ListaImagem()
{
    try {
        QByteArray bytes;
        if (m_archive && m_current >= 0) {
            bytes = m_database->run(QStringLiteral("leitura da imagem da consulta"),
                                    [archive = m_archive, entry = m_entries.at(m_current)] { return archive->image(entry); });
        }
        const ArchiveEntry entry = m_current >= 0 ? m_entries.at(m_current) : ArchiveEntry();
        // The shown picture goes before the next is decoded: a tall report is
        // hundreds of megabytes, and two of them need not exist at once.
        ui->Image1->setPicture(QImage());
        ui->Image1->setReport(bytes.isEmpty() ? QImage() : Jpeg::decode(bytes), bytes,
                              {ui->DBEdit1->text(), ui->DBEdit2->text(), ui->DbeCnpj->text(), entry.date, entry.time});
    } catch (const Cancelled &) {
        throw;
    } catch (...) {
        // No picture rather than the previous record's under this record's date.
        ui->Image1->setPicture(QImage());
        MessageBox::error(QStringLiteral("Erro ao abrir ultima pesquisa... \r\r") + currentFailureMessage());
    }
}

void TfoDeveZozuvor::Button1Click()
{
    if (isBusy())
        return;
    if (!m_archive)
        throw closedArchive();
    showEntry(qMax(m_current - 1, m_entries.isEmpty() ? -1 : 0));
    ListaImagem();
}

void TfoDeveZozuvor::Button2Click()
{
    if (isBusy())
        return;
    if (!m_archive)
        throw closedArchive();
    showEntry(qMin(m_current + 1, int(m_entries.size()) - 1));
    ListaImagem();
}

void TfoDeveZozuvor::GravaConsulta()
{
    if (!m_archive)
        throw closedArchive();
    const ArchiveEntry stored = m_database->run(
        QStringLiteral("gravação da consulta"),
        [archive = m_archive, file = m_pastaCapturas + CnpjDigitos()] { return archive->store(file); });
    m_entries = m_database->run(QStringLiteral("leitura do arquivo de consultas"),
                                [archive = m_archive] { return archive->entries(); });
    int index = int(m_entries.size()) - 1;
    for (int i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).address == stored.address)
            index = i;
    }
    showEntry(index);
    ListaImagem();
}

void TfoDeveZozuvor::SalvaPagina()
{
    // The engine draws only a browser that is on screen; the user may have
    // switched to the archive tab while the result page was loading.
    showTab(1);
    const QString file = m_pastaCapturas + CnpjDigitos();
    {
        // The window answers the user while the capture waits on the engine;
        // the browser stays on screen and the page as it loaded until then.
        const int archiveTab = ui->PageControl1->indexOf(ui->TabSheet1);
        ui->PageControl1->setTabEnabled(archiveTab, false);
        ui->WebBrowser1->setEnabled(false);
        const auto unlock = qScopeGuard([this, archiveTab] {
            ui->PageControl1->setTabEnabled(archiveTab, true);
            ui->WebBrowser1->setEnabled(true);
        });
        runLoggedCapture(file, [this, &file] { PageCapture(ui->WebBrowser1).captureTo(file); });
    }
    GravaConsulta();
}

void TfoDeveZozuvor::LoginClick(int index)
{
    m_driver->LoginClick(index);
}

void TfoDeveZozuvor::JvXPButton2Click()
{
    close();
}

void TfoDeveZozuvor::BotaoConsultarClick()
{
    if (isBusy())
        return;
    // A query without a CNPJ would be billed and then fail at the capture.
    if (m_client && ExtraiDigitos(ui->DbeCnpj->text()).isEmpty()) {
        throw AppError(QStringLiteral("O cliente %1 (%2) não tem CNPJ cadastrado (\"%3\"): a consulta não foi feita")
                           .arg(m_client->codClifor)
                           .arg(m_client->nome.trimmed(), ui->DbeCnpj->text()));
    }
    m_driver->start(ui->DbeCnpj->text());
}

void TfoDeveZozuvor::WebBrowser1DocumentComplete(bool ok)
{
    m_driver->documentComplete(ok);
}

// While the window waits on the database or the page, it still paints and
// takes "Sair"; the other buttons wait for the work in hand to end.
bool TfoDeveZozuvor::isBusy() const
{
    return m_database->isBusy() || m_driver->isHandling();
}

void TfoDeveZozuvor::showDatabaseWait(const QString &what, int seconds)
{
    if (seconds == 1)
        m_statusBeforeWait = ui->LStatus->text();
    // Start-up runs before the window appears; when the database keeps it
    // waiting, the window comes up so that the user sees why and can leave.
    if (!isVisible())
        QWidget::setVisible(true);
    SetaStatus(QStringLiteral("Aguardando o banco de dados: %1 (%2 s)").arg(what).arg(seconds));
}

void TfoDeveZozuvor::endDatabaseWait()
{
    SetaStatus(m_statusBeforeWait);
}

void TfoDeveZozuvor::closeEvent(QCloseEvent *event)
{
    // Work still waited for is abandoned; a store not yet committed rolls back.
    m_closed = true;
    m_driver->cancel();
    m_database->cancel();
    QWidget::closeEvent(event);
}

void TfoDeveZozuvor::announceSuccess(const QString &text)
{
    MessageBox::information(text);
}
