// Past the usual length on purpose: one subject, the window from its launch arguments to "Sair".
#include "browserfixture.h"
#include "capturefolder.h"
#include "dbengine.h"
#include "jpegcodec.h"
#include "jvxpprogressbar.h"
#include "pictureview.h"
#include "testdatabase.h"
#include "udevezozuvor.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTest>
#include <QWebEngineView>

namespace {

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

const QString clientMissing = QStringLiteral("Erro ao localizar cliente para pesquisar...");

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void labelsShowTheirWholeText();
    void windowTexts();
    void startUp_data();
    void startUp();
    void databaseCannotBeOpened();
    void clientWithSeveralQueries();
    void missingParameterTable();
    void parametersAreTrimmed();
    void brokenImageShowsNoPicture();
    void unreadableRecordShowsNoPicture();
    void damagedImages_data();
    void damagedImages();
    void buttonsOnClosedArchive();
    void buttonsWaitForStartUp();
    void statusAndProgressPaintAtOnce();
    void sairEndsTheWindow();
    void captureFolderIsOwnerOnly_data();
    void captureFolderIsOwnerOnly();

private:
    // Starts the window to the end of its start-up; false when it did not end.
    bool startWindow(const QStringList &arguments);
    template<typename T>
    T *child(const char *name)
    {
        return m_app->child<T>(name);
    }
    BoxRecorder &boxes() { return m_app->boxes; }

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
    TfoDeveZozuvor *m_window = nullptr;
};

void MainWindowTest::init()
{
    m_db = std::make_unique<TestDatabase>();
    QCOMPARE(m_db->create(), QString());
    m_app = std::make_unique<WindowFixture>(m_db->dir());
    m_window = nullptr;
}

void MainWindowTest::cleanup()
{
    m_app.reset();
    m_db.reset();
}

bool MainWindowTest::startWindow(const QStringList &arguments)
{
    const bool started = m_app->start(arguments);
    m_window = m_app->window();
    return started;
}

void MainWindowTest::labelsShowTheirWholeText()
{
    QVERIFY(startWindow({}));
    // Each caption fits its label, and the label ends before the field beside it.
    const QList<std::pair<const char *, const char *>> captions{
        {"Label1", "DBEdit1"}, {"Label2", "DBEdit2"}, {"Label3", "DbeCnpj"}, {"Label4", "DBEdit3"}};
    for (const auto &[label, field] : captions) {
        auto *caption = child<QLabel>(label);
        const int textWidth = caption->fontMetrics().horizontalAdvance(caption->text());
        QVERIFY2(
            textWidth <= caption->contentsRect().width(),
            qPrintable(QStringLiteral("%1: %2 px of text in %3 px").arg(label).arg(textWidth).arg(caption->width())));
        if (caption->y() + caption->height() > child<QWidget>(field)->y() && caption->x() < child<QWidget>(field)->x())
            QVERIFY2(caption->geometry().right() < child<QWidget>(field)->x(), label);
    }
}

void MainWindowTest::windowTexts()
{
    QVERIFY(startWindow({}));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Tervik - Consulta Equifax:"));
    QCOMPARE(child<QLabel>("LStatus")->text(), QStringLiteral("Clique em Consultar CNPJ para iniciar..."));
    auto *tabs = child<QTabWidget>("PageControl1");
    QCOMPARE(tabs->count(), 2);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Consultas Realizadas"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Browser"));
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(child<QAbstractButton>("Button1")->text(), QStringLiteral("<< Consulta Anterior"));
    QCOMPARE(child<QAbstractButton>("Button2")->text(), QString::fromUtf8("Próxima Consulta >>"));
    QCOMPARE(child<QAbstractButton>("BotaoConsultar")->text(), QStringLiteral("Consultar CNPJ"));
    QCOMPARE(child<QAbstractButton>("JvXPButton2")->text(), QStringLiteral("Sair"));
    QCOMPARE(child<QLabel>("Label1")->text(), QString::fromUtf8("Código"));
    for (const char *name : {"BotaoConsultar", "JvXPButton2", "Button1", "Button2"}) {
        QVERIFY(child<QWidget>(name)->font().bold());
        QCOMPARE(child<QWidget>(name)->cursor().shape(), Qt::PointingHandCursor);
    }
    for (const char *name : {"DBEdit1", "DBEdit2", "DbeCnpj", "DBEdit3", "DBEdit4"})
        QVERIFY(!child<QWidget>(name)->isEnabled());
    auto *bar = child<JvXPProgressBar>("JvXPProgressBar1");
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->position(), 0);
    // With no picture the view keeps its design size, so the scroll box scrolls.
    QVERIFY(child<QScrollArea>("ScrollBox1")->verticalScrollBar()->maximum() > 0);
}

void MainWindowTest::startUp_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("kind");     // the first box's
    QTest::addColumn<QString>("code"); // the client's fields as shown
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("consultar");
    const QStringList asked{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")};
    const QString none = QStringLiteral("Nenhuma consulta realizada para o cnpj %1, clique em CONSULTA CNPJ para "
                                        "prosseguir...");
    QTest::newRow("without arguments") << QStringList() << QStringList{clientMissing} << int(MessageBox::Kind::Error)
                                       << ""
                                       << "" << false;
    // A generic client 0 of branch 0 is common; it must not stand in for the one asked for.
    QTest::newRow("bad argument looks nobody up")
        << QStringList{QStringLiteral("abc"), QStringLiteral("2"), QStringLiteral("1500")}
        << QStringList{QStringLiteral("'abc' is not a valid integer value.")} << int(MessageBox::Kind::Report) << ""
        << "" << false;
    QTest::newRow("branch out of range")
        << QStringList{QStringLiteral("1"), QStringLiteral("40000"), QStringLiteral("1")}
        << QStringList{QStringLiteral(
               "40000 is not a valid value for field 'Filial'. The allowed range is -32768 to 32767.")}
        << int(MessageBox::Kind::Report) << ""
        << "" << false;
    QTest::newRow("client without archive")
        << asked << QStringList{none.arg("11.222.333/0001-81")} << int(MessageBox::Kind::Information) << "10"
        << "Cliente Sem Consulta" << true;
    QTest::newRow("only its own branch's archive")
        << QStringList{asked[0], asked[1], QStringLiteral("20")} << QStringList{none.arg("11222333000181")}
        << int(MessageBox::Kind::Information) << "20"
        << "Filial 1" << true;
    QTest::newRow("empty picture") << QStringList{asked[0], asked[1], QStringLiteral("30")} << QStringList() << 0
                                   << "30"
                                   << "Cliente" << true;
}

// The window as start-up leaves it when no picture is shown: its boxes, the client's fields, the query button.
void MainWindowTest::startUp()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, boxes);
    QFETCH(int, kind);
    QFETCH(QString, code);
    QFETCH(QString, name);
    QFETCH(bool, consultar);
    if (!arguments.isEmpty())
        m_db->addClient(0, 0, QStringLiteral("Consumidor Genérico"), QStringLiteral("11222333000181"));
    m_db->addClient(2, 1500, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->addClient(1, 10, QStringLiteral("Cliente Sem Consulta"), QStringLiteral("11.222.333/0001-81"));
    m_db->addClient(1, 20, QStringLiteral("Filial 1"), QStringLiteral("11222333000181"));
    m_db->addClient(2, 20, QStringLiteral("Filial 2"), QStringLiteral("99888777000166"));
    m_db->addArchive({2, 20, QDate(2026, 1, 1), QTime(8, 0), solidJpeg(50, 60, Qt::green)});
    m_db->addClient(1, 30, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->addArchive({1, 30, QDate(2026, 1, 1), QTime(8, 0), QByteArray()});
    QVERIFY(startWindow(arguments));

    QCOMPARE(this->boxes().texts(), boxes);
    if (!boxes.isEmpty()) {
        QCOMPARE(int(this->boxes().boxes.first().kind), kind);
        // The window first, then what start-up found.
        QVERIFY(this->boxes().boxes.first().windowVisible || kind == int(MessageBox::Kind::Report));
    }
    QVERIFY(m_window->isVisible());
    QCOMPARE(child<QWidget>("BotaoConsultar")->isEnabled(), consultar);
    QVERIFY(child<QWidget>("Button1")->isEnabled());
    QCOMPARE(child<QLineEdit>("DBEdit1")->text(), code);
    QCOMPARE(child<QLineEdit>("DBEdit2")->text(), name);
    QCOMPARE(child<QLineEdit>("DBEdit3")->text().isEmpty(), code != u"30"); // the date of a record without a picture
    QCOMPARE(child<QLineEdit>("DbeCnpj")->text().isEmpty(), code.isEmpty());
    if (arguments.isEmpty() || arguments.first() == u"abc") // nobody asked for, nobody looked up
        QCOMPARE(std::pair(m_window->FilialAtual(), m_window->CodCliforAtual()), std::pair(0, 0));
    QCOMPARE(m_window->site().URLConsulta, QString()); // none stored
    QVERIFY(QFileInfo(m_db->captureFolder()).isDir());
    QVERIFY(child<PictureView>("Image1")->picture().isNull());
    child<QWidget>("Image1")->repaint();
    QCOMPARE(this->boxes().texts(), boxes);
}

void MainWindowTest::databaseCannotBeOpened()
{
    const QString ini = QDir(m_db->dir()).filePath(QStringLiteral("dbengine.ini"));
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[tervik]\ndriver=sqlite\npath=nao-existe/tervik.sqlite\n");
    file.close();
    DbEngine::reset();

    QVERIFY(startWindow({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")}));
    QCOMPARE(boxes().boxes.size(), 1);
    QCOMPARE(boxes().boxes.first().kind, MessageBox::Kind::Report);
    QVERIFY2(boxes().texts().first().contains(QStringLiteral("tervik")), qPrintable(boxes().texts().first()));
    QVERIFY(m_window->isVisible());
    QVERIFY(!child<QWidget>("BotaoConsultar")->isEnabled());
    QVERIFY(!QFile::exists(QDir(m_db->dir()).filePath(QStringLiteral("nao-existe/tervik.sqlite"))));
}

void MainWindowTest::clientWithSeveralQueries()
{
    m_db->addClient(1, 10, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    const QDate day(2026, 3, 4);
    m_db->addArchive({1, 10, day, QTime(9, 0), solidJpeg(300, 200, Qt::red)});
    m_db->addArchive({1, 10, day, QTime(15, 30, 5), solidJpeg(400, 900, Qt::blue)});
    QVERIFY(startWindow({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")}));

    QVERIFY(boxes().boxes.isEmpty());
    auto *image = child<PictureView>("Image1");
    QCOMPARE(image->size(), QSize(400, 900));
    QCOMPARE(image->geometry().topLeft(), QPoint(40, 16));
    QCOMPARE(image->parentWidget()->size(), QSize(440, 916));
    QCOMPARE(child<QLineEdit>("DBEdit3")->text(), QLocale::system().toString(day, QLocale::ShortFormat));
    QVERIFY(child<QLineEdit>("DBEdit4")->text().contains(QStringLiteral("30")));

    QTest::mouseClick(child<QAbstractButton>("Button1"), Qt::LeftButton);
    QTRY_COMPARE(image->size(), QSize(300, 200));
    QTest::mouseClick(child<QAbstractButton>("Button1"), Qt::LeftButton); // stays on the first
    QTRY_COMPARE(image->size(), QSize(300, 200));
    QTest::mouseClick(child<QAbstractButton>("Button2"), Qt::LeftButton);
    QTRY_COMPARE(image->size(), QSize(400, 900));
    QTest::mouseClick(child<QAbstractButton>("Button2"), Qt::LeftButton);
    QTRY_COMPARE(image->size(), QSize(400, 900));
    QVERIFY(boxes().boxes.isEmpty());
}

void MainWindowTest::missingParameterTable()
{
    m_db->addClient(1, 10, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->exec(QStringLiteral("DROP TABLE ParametrosEmpresa"));
    QVERIFY(startWindow({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")}));

    QCOMPARE(boxes().boxes.size(), 11); // ten failed reads, then the empty archive
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(boxes().boxes.at(i).kind, MessageBox::Kind::Plain);
        QVERIFY2(boxes().boxes.at(i).text.startsWith(QStringLiteral("Erro na leitura de parametro : ")),
                 qPrintable(boxes().boxes.at(i).text));
    }
    QCOMPARE(boxes().boxes.at(0).title, QStringLiteral("tst_mainwindow"));
    QVERIFY(boxes().boxes.at(10).text.startsWith(QStringLiteral("Nenhuma consulta realizada")));
    QCOMPARE(m_window->site().URLResultConsulta, QString());
}

void MainWindowTest::parametersAreTrimmed()
{
    m_db->addClient(1, 10, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->addParameter(1, QStringLiteral("eEquifaxAutoURLConsulta"), QStringLiteral(" \thttp://a/\r\n"));
    m_db->addParameter(2, QStringLiteral("eEquifaxAutoIdUsu"), QStringLiteral("outra filial"));
    m_db->addParameter(1, QStringLiteral("eEquifaxAutoTagTipoCons"), QStringLiteral("  CNPJ  "));
    QVERIFY(startWindow({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")}));

    QCOMPARE(m_window->site().URLConsulta, QStringLiteral("http://a/"));
    QCOMPARE(m_window->site().IdUsu, QString());
    QCOMPARE(m_window->site().TagTipoCons, QStringLiteral("CNPJ"));
}

void MainWindowTest::brokenImageShowsNoPicture()
{
    m_db->addClient(1, 10, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->addArchive({1, 10, QDate(2026, 1, 1), QTime(8, 0), QByteArrayLiteral("isto não é JPEG")});
    const QByteArray good = solidJpeg(120, 80, Qt::yellow);
    m_db->addArchive({1, 10, QDate(2026, 1, 2), QTime(8, 0), good});
    m_db->addArchive({1, 10, QDate(2026, 1, 3), QTime(8, 0), good.left(good.size() / 2)});
    QVERIFY(startWindow({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")}));

    // The last record is truncated: the box names the codec's error.
    QCOMPARE(boxes().boxes.size(), 1);
    QCOMPARE(boxes().boxes.first().kind, MessageBox::Kind::Error);
    QVERIFY(QRegularExpression(QStringLiteral("^Erro ao abrir ultima pesquisa\\.\\.\\. \r\rJPEG error #\\d+$"))
                .match(boxes().boxes.first().text)
                .hasMatch());

    auto *image = child<PictureView>("Image1");
    QTest::mouseClick(child<QAbstractButton>("Button1"), Qt::LeftButton);
    QTRY_COMPARE(image->size(), QSize(120, 80));
    QTest::mouseClick(child<QAbstractButton>("Button1"), Qt::LeftButton);
    QTRY_COMPARE(boxes().boxes.size(), 2);
    QVERIFY(image->picture().isNull()); // never the earlier record's picture under this date
}

void MainWindowTest::damagedImages_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<bool>("shown");
    const QByteArray good = solidJpeg(120, 80, Qt::yellow);
    const qsizetype scan = good.lastIndexOf(QByteArray("\xFF\xDA", 2));
    QByteArray forged = good;
    const qsizetype sof = forged.indexOf(QByteArray("\xFF\xC0", 2));
    forged[sof + 5] = forged[sof + 7] = char(14000 >> 8);
    forged[sof + 6] = forged[sof + 8] = char(14000 & 0xFF);

    QTest::newRow("rows cut, then an end marker")
        << good.left((scan + good.size()) / 2) + QByteArray("\xFF\xD9", 2) << false;
    QTest::newRow("header forged to 14000 x 14000") << forged << false;
    QTest::newRow("end marker missing") << good.chopped(2) << true;
    QTest::newRow("PNG") << QByteArray("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16) << false;
}

void MainWindowTest::damagedImages()
{
    QFETCH(QByteArray, stored);
    QFETCH(bool, shown);
    m_db->addClient(1, 10, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->addArchive({1, 10, QDate(2026, 1, 2), QTime(8, 0), solidJpeg(60, 40, Qt::blue)});
    m_db->addArchive({1, 10, QDate(2026, 1, 3), QTime(8, 0), stored});
    QVERIFY(startWindow({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")}));

    auto *image = child<PictureView>("Image1");
    QCOMPARE(boxes().boxes.isEmpty(), shown);
    QCOMPARE(image->picture().isNull(), !shown);
    if (shown)
        QCOMPARE(image->size(), QSize(120, 80));
    else
        QVERIFY(
            boxes().boxes.first().text.startsWith(QStringLiteral("Erro ao abrir ultima pesquisa... \r\rJPEG error #")));
}

void MainWindowTest::unreadableRecordShowsNoPicture()
{
    m_db->addClient(1, 10, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->addArchive({1, 10, QDate(2026, 1, 1), QTime(8, 0), solidJpeg(50, 60, Qt::green)});
    m_db->addArchive({1, 10, QDate(2026, 1, 2), QTime(8, 0), solidJpeg(70, 80, Qt::red)});
    QVERIFY(startWindow({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")}));
    auto *image = child<PictureView>("Image1");
    QCOMPARE(image->picture().size(), QSize(70, 80));

    // The database cannot give the earlier record's picture any more.
    m_db->exec(QStringLiteral("ALTER TABLE CliforDeveZozuvor RENAME COLUMN ResultCons TO Resultado"));
    QTest::mouseClick(child<QAbstractButton>("Button1"), Qt::LeftButton);
    QTRY_COMPARE(boxes().boxes.size(), 1);
    QVERIFY2(boxes().boxes.first().text.startsWith(QStringLiteral("Erro ao abrir ultima pesquisa... \r\r")),
             qPrintable(boxes().boxes.first().text));
    QVERIFY(image->picture().isNull());
}

void MainWindowTest::buttonsOnClosedArchive()
{
    QVERIFY(startWindow({}));
    QCOMPARE(boxes().boxes.size(), 1);
    QTest::mouseClick(child<QAbstractButton>("Button1"), Qt::LeftButton);
    QTest::mouseClick(child<QAbstractButton>("Button2"), Qt::LeftButton);
    QCOMPARE(boxes().boxes.size(), 3);
    for (int i = 1; i < 3; ++i) {
        QCOMPARE(boxes().boxes.at(i).kind, MessageBox::Kind::Report);
        QCOMPARE(boxes().boxes.at(i).text,
                 QStringLiteral("TDeveZozuvor: Cannot perform this operation on a closed dataset."));
    }
}

void MainWindowTest::buttonsWaitForStartUp()
{
    m_db->addClient(1, 10, QStringLiteral("Cliente"), QStringLiteral("11222333000181"));
    m_db->addArchive({1, 10, QDate(2026, 3, 4), QTime(9, 0), solidJpeg(30, 20, Qt::red)});
    // Another program of the branch holds the database while start-up reads it.
    QProcess locker;
    locker.start(QCoreApplication::applicationDirPath() + QStringLiteral("/sqlite_lock_holder"), {m_db->sqlitePath()});
    QVERIFY(locker.waitForReadyRead(10000));
    m_app->open({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("10")});
    QTRY_COMPARE_WITH_TIMEOUT(m_app->status(), QStringLiteral("Aguardando o banco de dados: leitura do cliente (1 s)"),
                              10000);
    for (const char *button : {"BotaoConsultar", "Button1", "Button2"}) {
        QVERIFY(!child<QWidget>(button)->isEnabled());
        m_app->click(button);
    }
    QVERIFY(child<QWidget>("JvXPButton2")->isEnabled());
    locker.closeWriteChannel();
    QVERIFY(m_app->waitForStartUp());
    QVERIFY(boxes().boxes.isEmpty());
    QCOMPARE(m_app->status(), QStringLiteral("Clique em Consultar CNPJ para iniciar..."));
    for (const char *button : {"BotaoConsultar", "Button1", "Button2"})
        QVERIFY(child<QWidget>(button)->isEnabled());
    QCOMPARE(child<PictureView>("Image1")->size(), QSize(30, 20));
}

void MainWindowTest::statusAndProgressPaintAtOnce()
{
    QVERIFY(startWindow({}));
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    auto *status = child<QLabel>("LStatus");
    auto *bar = child<JvXPProgressBar>("JvXPProgressBar1");
    PaintCounter statusPaints(status);
    PaintCounter barPaints(bar);
    QSignalSpy barChanged(bar, &JvXPProgressBar::changed);

    m_window->SetaStatus(QStringLiteral("Conectando ao web site"));
    QCOMPARE(status->text(), QStringLiteral("Conectando ao web site"));
    QCOMPARE(statusPaints.count, 1); // painted before SetaStatus returned

    m_window->SetaStatus(QStringLiteral("Conectando ao web site"));
    QCOMPARE(statusPaints.count, 1); // same text: nothing invalidated, nothing painted

    m_window->IncProgresso();
    QCOMPARE(bar->position(), 1);
    QCOMPARE(barPaints.count, 1);
    QCOMPARE(barChanged.size(), 1);

    bar->setMaximum(1);
    m_window->IncProgresso(); // paints what the maximum invalidated
    const int paintsAtFull = barPaints.count;
    m_window->IncProgresso();
    QCOMPARE(bar->position(), 1);
    QCOMPARE(barChanged.size(), 2);          // only the maximum's notification
    QCOMPARE(barPaints.count, paintsAtFull); // nothing was invalidated
}

void MainWindowTest::sairEndsTheWindow()
{
    QVERIFY(startWindow({}));
    QTest::mouseClick(child<QAbstractButton>("JvXPButton2"), Qt::LeftButton);
    QVERIFY(!m_window->isVisible());
}

void MainWindowTest::captureFolderIsOwnerOnly_data()
{
    QTest::addColumn<bool>("installed"); // the program's directory cannot be written
    QTest::addColumn<bool>("leftOpen");  // the folder exists, open to everyone

    QTest::newRow("beside the program") << false << false;
    QTest::newRow("beside the program, left open") << false << true;
    QTest::newRow("installed: the user's own folder") << true << false;
    QTest::newRow("installed: the user's own folder, left open") << true << true;
}

void MainWindowTest::captureFolderIsOwnerOnly()
{
    QFETCH(bool, installed);
    QFETCH(bool, leftOpen);

    QStandardPaths::setTestModeEnabled(true);
    QDir(userCaptureFolder()).removeRecursively();
    QString programDir = m_db->dir();
    if (installed) {
        // Nothing can be made below a file, not even by root: the program
        // stands where an ordinary user cannot write, like /usr/bin.
        programDir = QDir(m_db->dir()).filePath(QStringLiteral("usr"));
        QFile file(programDir);
        QVERIFY(file.open(QIODevice::WriteOnly));
        programDir += QStringLiteral("/bin");
    }
    const QString expected = installed ? userCaptureFolder() + u'/' : m_db->captureFolder();
    if (leftOpen) {
        QVERIFY(QDir().mkpath(expected));
        QVERIFY(QFile::setPermissions(expected, QFileDevice::Permissions(0x7777)));
    }

    m_app.reset(); // one recorder of boxes at a time
    m_app = std::make_unique<WindowFixture>(programDir);
    QVERIFY(startWindow({}));
    QCOMPARE(boxes().texts(), QStringList{clientMissing});

    QCOMPARE(m_window->PastaCapturas(), expected);
    const QFileDevice::Permissions userBits = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    QCOMPARE(QFileInfo(expected).permissions() & ~userBits,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QDir(userCaptureFolder()).removeRecursively();
}

BROWSER_TEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
