#include "udevezozuvor.h"
#include "ui_udevezozuvor.h"

#include "apperror.h"
#include "capturefolder.h"
#include "cnpjtext.h"
#include "companyparameters.h"
#include "databasethread.h"
#include "errorreport.h"
#include "futurereply.h"
#include "jpegcodec.h"
#include "messagebox.h"
#include "queryarchiver.h"
#include "querydriver.h"
#include "systemlocale.h"

#include <QCloseEvent>
#include <QCoreApplication>
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
    // An administrator may give a slow site more time per page, in seconds.
    m_pageTimeout = qEnvironmentVariableIntValue("DEVEZOZUVOR_PAGE_TIMEOUT");

    m_database = new DatabaseThread(this);
    connect(m_database, &DatabaseThread::waiting, this, &TfoDeveZozuvor::showDatabaseWait);
    connect(m_database, &DatabaseThread::waitEnded, this, &TfoDeveZozuvor::endDatabaseWait);
    m_archiver = new QueryArchiver(m_database, this);
    connect(m_archiver, &QueryArchiver::stored, this, &TfoDeveZozuvor::queryStored);

    // The browser engine starts when the browser is first needed, not before
    // the window shows the client.
    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (ui->PageControl1->currentWidget() == ui->TabSheet2)
            ensureBrowser();
    });

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

void TfoDeveZozuvor::ensureBrowser()
{
    if (m_driver)
        return;
    // An off-the-record profile: no cookie or cache outlives the run.
    m_profile = std::make_unique<QWebEngineProfile>();
    m_page = std::make_unique<QWebEnginePage>(m_profile.get());
    ui->WebBrowser1->setPage(m_page.get());

    m_driver = new QueryDriver(ui->WebBrowser1, m_site, this);
    if (m_pageTimeout > 0)
        m_driver->setPageTimeout(std::chrono::seconds(m_pageTimeout));
    connect(m_driver, &QueryDriver::progressRestarted, this, &TfoDeveZozuvor::restartProgress);
    connect(m_driver, &QueryDriver::progressStep, this, &TfoDeveZozuvor::IncProgresso);
    connect(m_driver, &QueryDriver::statusChanged, this, &TfoDeveZozuvor::SetaStatus);
    connect(m_driver, &QueryDriver::queryStarted, this, [this] { showTab(ui->TabSheet2); });
    connect(m_driver, &QueryDriver::resultPageReached, this, [this] { ErrorReport::guard([this] { SalvaPagina(); }); });
    connect(m_driver, &QueryDriver::succeeded, this, &TfoDeveZozuvor::querySucceeded);
    connect(m_driver, &QueryDriver::failed, this, &ErrorReport::show);
    connect(m_archiver, &QueryArchiver::storing, m_driver, &QueryDriver::resultStoring);
    connect(m_archiver, &QueryArchiver::failed, m_driver, &QueryDriver::resultFailed);
}

void TfoDeveZozuvor::setProgramDirectory(const QString &directory)
{
    m_programDirectory = directory;
}

void TfoDeveZozuvor::setVisible(bool visible)
{
    if (visible && !m_shownOnce) {
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::setVisible(visible);
}

void TfoDeveZozuvor::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    // Start-up begins once the event loop runs, with the window on screen.
    QMetaObject::invokeMethod(
        this, [this] { ErrorReport::guard([this] { FormShow(); }); }, Qt::QueuedConnection);
}

void TfoDeveZozuvor::FormCreate(const QStringList &arguments)
{
    readLaunchArguments(arguments, m_launch);
    m_launchRead = true;
}

void TfoDeveZozuvor::FormShow()
{
    ui->PageControl1->setCurrentWidget(ui->TabSheet1);
    m_pastaCapturas = prepareCaptureFolder(m_programDirectory);

    // Arguments that did not convert name no client: none is looked up.
    if (!m_launchRead) {
        ui->BotaoConsultar->setEnabled(false);
        endStartUp();
        return;
    }
    whenReady(
        m_database->post(QStringLiteral("leitura do cliente"),
                         [filial = FilialAtual(), cod = CodCliforAtual()] { return findClient(filial, cod); }),
        this, [this](const std::optional<Client> &client) { clientFound(client); },
        [this](const QString &message) {
            // Without a client there is nothing to query.
            ui->BotaoConsultar->setEnabled(false);
            ErrorReport::show(message);
            endStartUp();
        });
}

void TfoDeveZozuvor::clientFound(const std::optional<Client> &client)
{
    if (!client) {
        MessageBox::error(QStringLiteral("Erro ao localizar cliente para pesquisar..."));
        ui->BotaoConsultar->setEnabled(false);
        endStartUp();
        return;
    }
    m_client = client;
    showClient();

    auto readAll = [branch = QString::number(FilialAtual())] {
        QList<ParameterRead> reads;
        for (const QString &key : parameterKeys())
            reads.append(LeParametro(QStringLiteral("Tervik"), branch, key));
        return reads;
    };
    whenReady(
        m_database->post(QStringLiteral("leitura dos parâmetros"), std::move(readAll)), this,
        [this](const QList<ParameterRead> &reads) { parametersRead(reads); },
        [this](const QString &message) {
            reportParameterFailure(QString::number(FilialAtual()), QStringLiteral("(todos)"), message);
            parametersRead({});
        });
}

void TfoDeveZozuvor::parametersRead(const QList<ParameterRead> &reads)
{
    const QString branch = QString::number(FilialAtual());
    for (qsizetype i = 0; i < reads.size() && i < qsizetype(std::size(m_site.fields)); ++i) {
        if (!reads.at(i).failure.isEmpty())
            reportParameterFailure(branch, parameterKeys().at(i), reads.at(i).failure);
        *m_site.fields[i] = trimControl(reads.at(i).value);
    }
    whenReady(
        m_database->post(QStringLiteral("abertura do arquivo de consultas"),
                         [client = *m_client] { return QueryArchive(client).entries(); }),
        this, [this](const QList<ArchiveEntry> &entries) { archiveOpened(entries); },
        [this](const QString &message) {
            ErrorReport::show(message);
            endStartUp();
        });
}

void TfoDeveZozuvor::archiveOpened(const QList<ArchiveEntry> &entries)
{
    m_archiveOpen = true;
    m_entries = entries;
    if (m_entries.isEmpty()) {
        MessageBox::information(QStringLiteral("Nenhuma consulta realizada para o cnpj ") + ui->DbeCnpj->text()
                                + QStringLiteral(", clique em CONSULTA CNPJ para prosseguir..."));
        endStartUp();
        return;
    }
    showEntry(int(m_entries.size()) - 1);
    showImage([this] { endStartUp(); });
}

void TfoDeveZozuvor::endStartUp()
{
    emit startUpFinished();
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

void TfoDeveZozuvor::showTab(QWidget *page)
{
    ui->PageControl1->setCurrentWidget(page);
}

QString TfoDeveZozuvor::CnpjDigitos() const
{
    return m_driver ? m_driver->cnpjDigitos() : QString();
}

void TfoDeveZozuvor::ListaImagem()
{
    showImage({});
}

// Shows the current entry's picture once the database thread has read and
// decoded it, then runs shown.
void TfoDeveZozuvor::showImage(std::function<void()> shown)
{
    const ArchiveEntry entry = m_current >= 0 ? m_entries.at(m_current) : ArchiveEntry();
    const ReportInfo info{ui->DBEdit1->text(), ui->DBEdit2->text(), ui->DbeCnpj->text(), entry.date, entry.time};
    // The shown picture goes before the next is decoded: a tall report is
    // hundreds of megabytes, and two of them need not exist at once.
    ui->Image1->setPicture(QImage());
    if (!m_client || m_current < 0) {
        ui->Image1->setReport(QImage(), QByteArray(), info);
        if (shown)
            shown();
        return;
    }
    const quint64 request = ++m_imageRequest;
    auto read = [client = *m_client, entry] {
        QByteArray bytes = QueryArchive(client).image(entry);
        QImage picture = bytes.isEmpty() ? QImage() : Jpeg::decode(bytes);
        return std::make_pair(std::move(bytes), std::move(picture));
    };
    whenReady(
        m_database->post(QStringLiteral("leitura da imagem da consulta"), std::move(read)), this,
        [this, info, shown, request](const std::pair<QByteArray, QImage> &image) {
            // A later record asked for meanwhile shows instead.
            if (request == m_imageRequest)
                ui->Image1->setReport(image.second, image.first, info);
            if (shown)
                shown();
        },
        [this, shown, request](const QString &message) {
            // No picture rather than the previous record's under this record's date.
            if (request == m_imageRequest) {
                ui->Image1->setPicture(QImage());
                MessageBox::error(QStringLiteral("Erro ao abrir ultima pesquisa... \r\r") + message);
            }
            if (shown)
                shown();
        });
}

void TfoDeveZozuvor::Button1Click()
{
    if (!m_archiveOpen)
        throw closedArchive();
    showEntry(qMax(m_current - 1, m_entries.isEmpty() ? -1 : 0));
    ListaImagem();
}

void TfoDeveZozuvor::Button2Click()
{
    if (!m_archiveOpen)
        throw closedArchive();
    showEntry(qMin(m_current + 1, int(m_entries.size()) - 1));
    ListaImagem();
}

void TfoDeveZozuvor::SalvaPagina()
{
    // The engine draws only a browser that is on screen; the user may have
    // switched to the archive tab while the result page was loading.
    showTab(ui->TabSheet2);
    // The window answers the user while the capture waits on the engine;
    // the browser stays on screen and the page as it loaded until then.
    const int archiveTab = ui->PageControl1->indexOf(ui->TabSheet1);
    ui->PageControl1->setTabEnabled(archiveTab, false);
    ui->WebBrowser1->setEnabled(false);
    const auto unlock = qScopeGuard([this, archiveTab] {
        ui->PageControl1->setTabEnabled(archiveTab, true);
        ui->WebBrowser1->setEnabled(true);
    });
    m_archiver->archive(ui->WebBrowser1, m_pastaCapturas + CnpjDigitos(), *m_client);
}

void TfoDeveZozuvor::queryStored(const QList<ArchiveEntry> &entries, int index)
{
    m_archiveOpen = true;
    m_entries = entries;
    showEntry(index);
    showImage([this] {
        if (m_driver)
            m_driver->resultStored();
    });
}

void TfoDeveZozuvor::querySucceeded(const QString &message)
{
    showTab(ui->TabSheet1);
    MessageBox::information(message);
}

void TfoDeveZozuvor::JvXPButton2Click()
{
    close();
}

void TfoDeveZozuvor::BotaoConsultarClick()
{
    if (!m_client)
        return;
    // A query whose result is being archived runs to its end.
    if (m_driver
        && (m_driver->stage() == QueryDriver::Stage::Capturing || m_driver->stage() == QueryDriver::Stage::Storing))
        return;
    // A query for a CNPJ that cannot exist would be billed, and its answer
    // archived as the client's report.
    const QString cnpj = ui->DbeCnpj->text();
    if (!isValidCnpj(cnpj)) {
        const QString who = QStringLiteral("%1 (%2)").arg(m_client->codClifor).arg(m_client->nome.trimmed());
        throw AppError(cnpj.trimmed().isEmpty()
                           ? QStringLiteral("O cliente %1 não tem CNPJ cadastrado (\"%2\"): a consulta não foi feita")
                                 .arg(who, cnpj)
                           : QStringLiteral("O CNPJ do cliente %1 não é válido (\"%2\"): a consulta não foi feita")
                                 .arg(who, cnpj));
    }
    ensureBrowser();
    m_driver->start(cnpj);
}

void TfoDeveZozuvor::showDatabaseWait(const QString &what, int seconds)
{
    if (seconds == 1)
        m_statusBeforeWait = ui->LStatus->text();
    SetaStatus(QStringLiteral("Aguardando o banco de dados: %1 (%2 s)").arg(what).arg(seconds));
}

void TfoDeveZozuvor::endDatabaseWait()
{
    SetaStatus(m_statusBeforeWait);
}

void TfoDeveZozuvor::closeEvent(QCloseEvent *event)
{
    // Work still waited for is abandoned; a store not yet committed rolls back.
    if (m_driver)
        m_driver->cancel();
    m_database->cancel();
    QWidget::closeEvent(event);
}
