#include "udevezozuvor.h"
#include "ui_udevezozuvor.h"

#include "apperror.h"
#include "companyparameters.h"
#include "datasource.h"
#include "errorreport.h"
#include "jpegcodec.h"
#include "leparametro.h"
#include "messagebox.h"
#include "pageaccess.h"
#include "pagecapture.h"
#include "queryarchive.h"
#include "table.h"
#include "tervikschema.h"

#include <QCoreApplication>
#include <QDir>
#include <QScreen>
#include <QWebEnginePage>
#include <QWebEngineProfile>

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
    connect(m_page.get(), &QWebEnginePage::loadFinished, this, &TfoDeveZozuvor::documentLoaded);

    TClifor = makeCliforTable(this);
    TDeveZozuvor = makeArchiveTable(TClifor, this);
    dsTClifor = new DataSource(QStringLiteral("dsTClifor"), TClifor, this);
    dsTDeveZozuvor = new DataSource(QStringLiteral("dsTDeveZozuvor"), TDeveZozuvor, this);
    dsTClifor->bind(ui->DBEdit1, QStringLiteral("Cod_Clifor"));
    dsTClifor->bind(ui->DBEdit2, QStringLiteral("NOME"));
    dsTClifor->bind(ui->DbeCnpj, QStringLiteral("CGC"));
    dsTDeveZozuvor->bind(ui->DBEdit3, QStringLiteral("DataCons"));
    dsTDeveZozuvor->bind(ui->DBEdit4, QStringLiteral("HoraCons"));

    m_archive = std::make_unique<QueryArchive>(TDeveZozuvor, TClifor);
    m_pageAccess = std::make_unique<PageAccess>(ui->WebBrowser1);
    m_driver = std::make_unique<QueryDriver>(static_cast<QueryHost &>(*this), *m_pageAccess, m_site);

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
    m_pastaCapturas = QDir::cleanPath(m_programDirectory + QStringLiteral("/DeveZozuvorWebBrowser")) + u'/';
    if (!QDir(m_pastaCapturas).exists())
        QDir().mkpath(m_pastaCapturas);

    TClifor->open();
    if (!TClifor->findKey({FilialAtual(), CodCliforAtual()})) {
        MessageBox::error(QStringLiteral("Erro ao localizar cliente para pesquisar..."));
        ui->BotaoConsultar->setEnabled(false);
        TClifor->close();
        return;
    }

    const QString branch = QString::number(FilialAtual());
    const QStringList &keys = parameterKeys();
    for (qsizetype i = 0; i < keys.size(); ++i)
        *m_site.fields[i] = trimControl(LeParametro(QStringLiteral("Tervik"), branch, keys.at(i)));

    TDeveZozuvor->open();
    if (TDeveZozuvor->recordCount() != 0) {
        TDeveZozuvor->last();
        ListaImagem();
    } else {
        MessageBox::information(QStringLiteral("Nenhuma consulta realizada para o cnpj ") + ui->DbeCnpj->text()
                                + QStringLiteral(", clique em CONSULTA CNPJ para prosseguir..."));
    }
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

QString TfoDeveZozuvor::displayedCnpj() const
{
    return ui->DbeCnpj->text();
}

void TfoDeveZozuvor::setCnpjDigitos(const QString &digits)
{
    m_cnpjDigitos = digits;
}

void TfoDeveZozuvor::ListaImagem()
{
    try {
        const QByteArray bytes = m_archive->currentImage();
        ui->Image1->setReport(bytes.isEmpty() ? QImage() : Jpeg::decode(bytes), bytes,
                              {ui->DBEdit1->text(), ui->DBEdit2->text(), ui->DbeCnpj->text(),
                               TDeveZozuvor->value(QStringLiteral("DataCons")).toDate(),
                               TDeveZozuvor->value(QStringLiteral("HoraCons")).toTime()});
    } catch (const AppError &error) {
        MessageBox::error(QStringLiteral("Erro ao abrir ultima pesquisa... \r\r") + error.message());
    } catch (const std::bad_alloc &) {
        MessageBox::error(QStringLiteral("Erro ao abrir ultima pesquisa... \r\rMemória insuficiente para a imagem"));
    }
}

void TfoDeveZozuvor::Button1Click()
{
    TDeveZozuvor->prior();
    ListaImagem();
}

void TfoDeveZozuvor::Button2Click()
{
    TDeveZozuvor->next();
    ListaImagem();
}

void TfoDeveZozuvor::GravaConsulta()
{
    m_archive->store(m_pastaCapturas + m_cnpjDigitos);
    ListaImagem();
}

void TfoDeveZozuvor::SalvaPagina()
{
    // The engine draws only a browser that is on screen; the user may have
    // switched to the archive tab while the result page was loading.
    showTab(1);
    PageCapture(ui->WebBrowser1).captureTo(m_pastaCapturas + m_cnpjDigitos);
    GravaConsulta();
}

void TfoDeveZozuvor::LoginClick(int index)
{
    m_pageAccess->submitForm(index);
}

void TfoDeveZozuvor::JvXPButton2Click()
{
    close();
}

void TfoDeveZozuvor::BotaoConsultarClick()
{
    m_driver->start();
}

void TfoDeveZozuvor::WebBrowser1DocumentComplete(bool ok)
{
    m_driver->documentComplete(ok);
}

void TfoDeveZozuvor::documentLoaded(bool ok)
{
    if (m_handlingDocument) {
        m_pendingDocuments.enqueue(ok);
        return;
    }
    handleDocument(ok);
    while (!m_handlingDocument && !m_pendingDocuments.isEmpty())
        handleDocument(m_pendingDocuments.dequeue());
}

void TfoDeveZozuvor::handleDocument(bool ok)
{
    m_handlingDocument = true;
    // Forms submitted by the handler go out when it ends, so its later steps
    // still find the document they were meant for.
    m_pageAccess->holdSubmissions();
    ErrorReport::guard([this, ok] {
        std::exception_ptr failure;
        try {
            WebBrowser1DocumentComplete(ok);
        } catch (...) {
            failure = std::current_exception();
        }
        try {
            m_pageAccess->releaseSubmissions();
        } catch (...) {
            if (!failure)
                throw;
        }
        if (failure)
            std::rethrow_exception(failure);
    });
    m_handlingDocument = false;
}

void TfoDeveZozuvor::announceSuccess(const QString &text)
{
    // The success box waits for the user; documents that load meanwhile are
    // handled at once, and any that queued up before it go first.
    m_pageAccess->releaseSubmissions();
    m_handlingDocument = false;
    while (!m_pendingDocuments.isEmpty())
        handleDocument(m_pendingDocuments.dequeue());
    MessageBox::information(text);
}
