#include "udevezozuvor.h"
#include "ui_udevezozuvor.h"

#include "apperror.h"
#include "archivebrowser.h"
#include "capturefolder.h"
#include "databasethread.h"
#include "errorreport.h"
#include "futurereply.h"
#include "logcategories.h"
#include "messagebox.h"
#include "queryroom.h"
#include "querysession.h"
#include "reportchanges.h"
#include "reportcommands.h"
#include "scriptrunner.h"
#include "startup.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QScreen>

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
    m_database = new DatabaseThread(this);
    m_room = new QueryRoom(m_database, ui->WebBrowser1, this);
    connect(m_database, &DatabaseThread::waiting, this, &TfoDeveZozuvor::showDatabaseWait);
    connect(m_database, &DatabaseThread::waitEnded, this, &TfoDeveZozuvor::endDatabaseWait);
    m_archive = new ArchiveBrowser(m_database, ui->Image1, ui->DBEdit3, ui->DBEdit4, this);
    ui->Image1->setScrollArea(ui->ScrollBox1);
    auto *commands = new ReportCommands(ui->Image1, ui->ScrollBox1);
    connect(commands, &ReportCommands::compareRequested, m_archive, &ArchiveBrowser::compareWithPrevious);
    connect(m_archive, &ArchiveBrowser::comparableChanged, commands, &ReportCommands::setComparable);
    connect(ui->BotaoMudancas, &QPushButton::clicked, m_archive, &ArchiveBrowser::compareWithPrevious);

    // The browser engine starts when the browser is first needed, not before
    // the window shows the client.
    connect(ui->PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (ui->PageControl1->currentWidget() == ui->TabSheet2)
            m_room->browser();
    });

    connectClick(ui->BotaoConsultar, &TfoDeveZozuvor::BotaoConsultarClick);
    connectClick(ui->JvXPButton2, &TfoDeveZozuvor::JvXPButton2Click);
    connectClick(ui->Button1, &TfoDeveZozuvor::Button1Click);
    connectClick(ui->Button2, &TfoDeveZozuvor::Button2Click);

    ErrorReport::guard([&] { FormCreate(arguments); });
}

TfoDeveZozuvor::~TfoDeveZozuvor()
{
    // The query goes first, then the view, then its page, then the profile.
    delete m_session;
    delete ui->WebBrowser1;
}

template<typename Handler>
void TfoDeveZozuvor::connectClick(QWidget *button, Handler handler)
{
    connect(static_cast<QAbstractButton *>(button), &QAbstractButton::clicked, this,
            [this, handler] { ErrorReport::guard([this, handler] { (this->*handler)(); }); });
}

QSize TfoDeveZozuvor::storedBrowserSize()
{
    QWidget form;
    Ui::TfoDeveZozuvor layout;
    layout.setupUi(&form);
    return layout.WebBrowser1->size();
}

const QString &TfoDeveZozuvor::PastaCapturas() const
{
    return m_room->captureFolder();
}

const SiteParameters &TfoDeveZozuvor::site() const
{
    return m_room->site();
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
    m_room->prepareCaptureFolder(m_programDirectory);
    // Nothing to press until start-up has found what there is; "Sair" always.
    for (QWidget *button : {ui->BotaoConsultar, ui->Button1, ui->Button2})
        button->setEnabled(false);

    auto *startUp = new StartUp(m_database, m_room, m_archive,
                                m_launchRead ? std::optional(m_launch) : std::nullopt, this);
    connect(startUp, &StartUp::clientFound, this, &TfoDeveZozuvor::showClient);
    connect(startUp, &StartUp::finished, this, [this, startUp](bool clientKnown) {
        startUp->deleteLater();
        endStartUp(clientKnown);
    });
    startUp->run();
}

void TfoDeveZozuvor::endStartUp(bool clientKnown)
{
    ui->BotaoConsultar->setEnabled(clientKnown);
    ui->Button1->setEnabled(true);
    ui->Button2->setEnabled(true);
    emit startUpFinished();
}

void TfoDeveZozuvor::showClient(const Client &client)
{
    m_client = client;
    ui->DBEdit1->setText(QString::number(client.codClifor));
    ui->DBEdit2->setText(client.nome);
    ui->DbeCnpj->setText(client.cgc);
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

void TfoDeveZozuvor::ListaImagem()
{
    m_archive->ListaImagem();
}

void TfoDeveZozuvor::Button1Click()
{
    ui->BotaoMudancas->hide(); // it speaks of the newest report
    m_archive->step(-1);
}

void TfoDeveZozuvor::Button2Click()
{
    ui->BotaoMudancas->hide();
    m_archive->step(+1);
}

void TfoDeveZozuvor::JvXPButton2Click()
{
    close();
}

void TfoDeveZozuvor::BotaoConsultarClick()
{
    // A query whose result is being archived runs to its end.
    if (!m_client || (m_session && m_session->isArchiving()))
        return;
    QuerySession *session = m_room->newQuery(*m_client, ui->DbeCnpj->text(), this);
    // A press during the walk starts the query afresh.
    if (m_session) {
        m_session->abandon();
        m_session->deleteLater();
    }
    m_session = session;
    connect(session, &QuerySession::progressRestarted, this, &TfoDeveZozuvor::restartProgress);
    connect(session, &QuerySession::progressStep, this, &TfoDeveZozuvor::IncProgresso);
    connect(session, &QuerySession::statusChanged, this, &TfoDeveZozuvor::SetaStatus);
    connect(session, &QuerySession::queryStarted, this, [this] { showTab(ui->TabSheet2); });
    connect(session, &QuerySession::captureRunning, this, &TfoDeveZozuvor::lockForCapture);
    connect(session, &QuerySession::stored, m_archive, &ArchiveBrowser::open);
    connect(session, &QuerySession::stored, this, &TfoDeveZozuvor::showChanges);
    connect(session, &QuerySession::succeeded, this, [this](const QString &message) {
        showTab(ui->TabSheet1);
        MessageBox::information(message);
    });
    connect(session, &QuerySession::failed, this, &ErrorReport::show);
    connect(session, &QuerySession::ended, this, [this, session] { queryEnded(session); });
    m_room->start(session);
}

void TfoDeveZozuvor::showChanges(const Client &client, const QList<ArchiveEntry> &entries, int index)
{
    ui->BotaoMudancas->hide();
    whenReady(
        countReportChanges(m_database, client, entries, index), this,
        [this](const ReportChanges &changes) {
            ui->BotaoMudancas->setText(changes.shortText());
            ui->BotaoMudancas->setVisible(changes.count.has_value());
        },
        [](const QString &message) {
            // The query is stored; only its count is missing.
            qCWarning(lcStore).noquote() << "mudanças desde a consulta anterior não contadas:" << message;
        });
}

void TfoDeveZozuvor::lockForCapture(bool locked)
{
    // The engine draws only a browser that is on screen: the user may have
    // switched to the archive tab while the result page was loading. The
    // window answers the user meanwhile, but the browser stays as it loaded.
    if (locked)
        showTab(ui->TabSheet2);
    ui->PageControl1->setTabEnabled(ui->PageControl1->indexOf(ui->TabSheet1), !locked);
    ui->WebBrowser1->setEnabled(!locked);
    // From the capture to the ending the query takes no other press.
    if (locked)
        ui->BotaoConsultar->setEnabled(false);
}

void TfoDeveZozuvor::queryEnded(QuerySession *session)
{
    session->deleteLater();
    if (session == m_session)
        ui->BotaoConsultar->setEnabled(true);
}

void TfoDeveZozuvor::showDatabaseWait(const QString &what, int seconds)
{
    // What the wait covers is put back when it ends, unless an outcome came since.
    if (ui->LStatus->text() != m_waitText)
        m_statusBeforeWait = ui->LStatus->text();
    m_waitText = QStringLiteral("Aguardando o banco de dados: %1 (%2 s)").arg(what).arg(seconds);
    SetaStatus(m_waitText);
}

void TfoDeveZozuvor::endDatabaseWait()
{
    if (ui->LStatus->text() == m_waitText)
        SetaStatus(m_statusBeforeWait);
    m_waitText.clear();
}

void TfoDeveZozuvor::closeEvent(QCloseEvent *event)
{
    // Work still waited for is abandoned; a store not yet committed rolls back.
    if (m_session)
        m_session->abandon();
    // So does any wait on the browser, the capture's memory release included.
    ScriptRunner::cancelWaits(m_room->page());
    m_database->cancel();
    QWidget::closeEvent(event);
}
