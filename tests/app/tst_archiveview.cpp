#include "browserfixture.h"
#include "jpegcodec.h"
#include "pdftools.h"
#include "pictureview.h"
#include "reportcommands.h"
#include "testdatabase.h"
#include "udevezozuvor.h"
#include "windowfixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

// A report-like page: bands of grey and a dark line every 100 rows, real
// detail for the JPEG to hold.
QByteArray reportJpeg(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < height; y += 100) {
        painter.fillRect(0, y, width, 40, QColor(200, 200, 200 - (y / 100) % 50));
        painter.fillRect(20, y + 60, width - 40, 2, Qt::black);
    }
    painter.end();
    return Jpeg::encode(image, 30);
}

QString runTool(const QString &tool, const QStringList &arguments)
{
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return QStringLiteral("MISSING %1 (Debian package poppler-utils)").arg(tool);
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        return QStringLiteral("FAILED %1: %2").arg(tool, QString::fromLocal8Bit(process.readAllStandardError()));
    return QString::fromUtf8(process.readAllStandardOutput());
}

enum class ZoomInput { Keys, Wheel };

const QDate queryDay(2026, 3, 4);
const QTime queryTime(14, 5, 6);

} // namespace

class ArchiveViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandsNeedARecord();
    void zoomStepsToTheLimitsAndBack_data();
    void zoomStepsToTheLimitsAndBack();
    void saveAndCopyGiveTheStoredBytes();
    void printsEveryPageWithItsHeader();
    void failureLeavesNoFile_data();
    void failureLeavesNoFile();

private:
    void startWindow(const QList<QByteArray> &reports);
    void compareGeometry(const QSize &pictureSize);
    void zoomStep(ZoomInput input, bool in);

    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowFixture> m_app;
    TfoDeveZozuvor *m_window = nullptr;
    PictureView *m_view = nullptr;
    ReportCommands *m_commands = nullptr;
    QScrollArea *m_box = nullptr;
};

void ArchiveViewTest::init()
{
    m_db = std::make_unique<TestDatabase>();
    QCOMPARE(m_db->create(), QString());
    m_app = std::make_unique<WindowFixture>(m_db->dir());
    m_db->addClient(1, 1001, QStringLiteral("Comercial Ipê Ltda"), QStringLiteral("11.222.333/0001-81"));
}

void ArchiveViewTest::cleanup()
{
    m_app.reset();
    m_db.reset();
}

// The client's archive holds the reports oldest first, one minute apart; the window shows the last.
void ArchiveViewTest::startWindow(const QList<QByteArray> &reports)
{
    for (qsizetype i = 0; i < reports.size(); ++i)
        m_db->addArchive({1, 1001, queryDay, queryTime.addSecs(60 * (i + 1 - reports.size())), reports.at(i)});
    QVERIFY(m_app->start());
    m_window = m_app->window();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_view = m_window->findChild<PictureView *>(QStringLiteral("Image1"));
    m_box = m_window->findChild<QScrollArea *>(QStringLiteral("ScrollBox1"));
    m_commands = m_window->findChild<ReportCommands *>();
    QVERIFY(m_view && m_box && m_commands);
}

// The view at 40, 16 with the picture's size at the current zoom, and the scroll range ending where it ends.
void ArchiveViewTest::compareGeometry(const QSize &pictureSize)
{
    const QSize scaled = m_view->zoom() == 1.0 ? pictureSize
                                               : QSize(qRound(pictureSize.width() * m_view->zoom()),
                                                       qRound(pictureSize.height() * m_view->zoom()));
    QCOMPARE(m_view->geometry(), QRect(QPoint(40, 16), scaled));
    QCOMPARE(m_box->widget()->size(), QSize(40 + scaled.width(), 16 + scaled.height()));
    QCOMPARE(m_box->verticalScrollBar()->maximum(), qMax(0, 16 + scaled.height() - m_box->viewport()->height()));
    QCOMPARE(m_box->horizontalScrollBar()->maximum(), qMax(0, 40 + scaled.width() - m_box->viewport()->width()));
}

void ArchiveViewTest::zoomStep(ZoomInput input, bool in)
{
    if (input == ZoomInput::Keys) {
        QTest::keyClick(m_window, in ? Qt::Key_Plus : Qt::Key_Minus, Qt::ControlModifier);
        return;
    }
    // A wheel event over the picture reaches the scroll box's viewport as it bubbles up; a
    // synthetic one does not bubble, so it goes there straight.
    QWidget *viewport = m_box->viewport();
    const QPoint at = viewport->rect().center();
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, in ? 120 : -120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
}

void ArchiveViewTest::commandsNeedARecord()
{
    startWindow({});
    QCOMPARE(m_app->boxes.boxes.size(), 1); // "Nenhuma consulta realizada..."
    const QList<QAction *> commands = m_view->actions();
    QCOMPARE(commands.size(), 13);
    for (const QAction *command : commands)
        QVERIFY2(!command->isEnabled(), qPrintable(command->text()));

    QTest::keyClick(m_window, Qt::Key_Plus, Qt::ControlModifier);
    QCOMPARE(m_view->zoom(), 1.0);
    QCOMPARE(m_view->geometry(), QRect(40, 16, 824, 2192));
}

void ArchiveViewTest::zoomStepsToTheLimitsAndBack_data()
{
    QTest::addColumn<ZoomInput>("input");
    QTest::newRow("Ctrl + keys") << ZoomInput::Keys;
    QTest::newRow("Ctrl + wheel") << ZoomInput::Wheel;
}

void ArchiveViewTest::zoomStepsToTheLimitsAndBack()
{
    QFETCH(ZoomInput, input);
    const QSize picture(600, 3000);
    startWindow({reportJpeg(300, 1000), reportJpeg(picture.width(), picture.height())});
    QVERIFY(m_app->boxes.boxes.isEmpty());
    // Every command but the one that needs a text layer, which these pictures lack.
    for (const QAction *command : m_view->actions())
        QVERIFY2(command->isEnabled() == (command->objectName() != u"CopiarTexto"), qPrintable(command->text()));
    compareGeometry(picture);

    for (bool in : {true, false}) {
        qreal previous = m_view->zoom();
        for (int step = 0; step < 8; ++step) {
            zoomStep(input, in);
            QVERIFY(in ? m_view->zoom() > previous : m_view->zoom() < previous);
            previous = m_view->zoom();
            compareGeometry(picture);
            if (QTest::currentTestFailed())
                return;
            if (previous == (in ? PictureView::maximumZoom : PictureView::minimumZoom))
                break;
        }
        QCOMPARE(m_view->zoom(), in ? 4.0 : 0.25);
        zoomStep(input, in); // past the limit nothing changes
        QCOMPARE(m_view->zoom(), in ? 4.0 : 0.25);
        compareGeometry(picture);

        QTest::keyClick(m_window, Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(m_view->zoom(), 1.0);
        compareGeometry(picture); // exactly the unzoomed layout
    }

    m_view->findChild<QAction *>(QStringLiteral("AjustarLargura"))->trigger();
    QCOMPARE(m_box->horizontalScrollBar()->maximum(), 0);
    QVERIFY(qAbs(m_box->viewport()->width() - 40 - (m_view->geometry().right() + 1)) <= 1); // 40 each side
    compareGeometry(picture);

    // The zoom holds for the previous record, which brings its own header.
    const qreal fitted = m_view->zoom();
    QTest::mouseClick(m_window->findChild<QAbstractButton *>(QStringLiteral("Button1")), Qt::LeftButton);
    QTRY_COMPARE(m_view->reportInfo().queryTime, queryTime.addSecs(-60));
    QCOMPARE(m_view->zoom(), fitted);
    compareGeometry(QSize(300, 1000));
    QCOMPARE(m_view->reportInfo().queryTime, queryTime.addSecs(-60));
}

void ArchiveViewTest::saveAndCopyGiveTheStoredBytes()
{
    startWindow({reportJpeg(640, 4000)});
    const QByteArray stored = m_db->archiveImages(1, 1001).last();
    QCOMPARE(m_view->reportInfo().suggestedFileName(), QStringLiteral("11222333000181_20260304_140506.jpg"));
    // One report: nothing to compare it with.
    QVERIFY(!m_view->findChild<QAction *>(QStringLiteral("CompararAnterior"))->isEnabled());

    QTemporaryDir folder;
    const QString fileName = folder.filePath(m_view->reportInfo().suggestedFileName());
    QVERIFY(m_commands->saveReport(fileName));
    QFile saved(fileName);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), stored);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // no temporary left behind
    const QString pdf = folder.filePath(m_view->reportInfo().suggestedFileName(QStringLiteral("pdf")));
    QCOMPARE(QFileInfo(pdf).fileName(), QStringLiteral("11222333000181_20260304_140506.pdf"));
    QVERIFY(m_commands->savePdf(pdf));
    QCOMPARE(PdfTools::firstImage(pdf), stored);
    QCOMPARE(m_view->findChild<QAction *>(QStringLiteral("SalvarPdf"))->shortcut(),
             QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));

    m_view->findChild<QAction *>(QStringLiteral("CopiarImagem"))->trigger();
    const QMimeData *copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied);
    QCOMPARE(copied->data(QStringLiteral("image/jpeg")), stored);
    QCOMPARE(qvariant_cast<QImage>(copied->imageData()).size(), QSize(640, 4000));
    QVERIFY(m_app->boxes.boxes.isEmpty());
}

void ArchiveViewTest::printsEveryPageWithItsHeader()
{
    startWindow({reportJpeg(1000, 16000)});
    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("consulta.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdf);
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10),
                                      QPageLayout::Millimeter));
    QVERIFY(m_commands->printReport(printer));
    QVERIFY(m_app->boxes.boxes.isEmpty());

    // At 190 mm wide the report is 3040 mm tall: 12 pages of 277 mm less any header up to 23 mm.
    const QString info = runTool(QStringLiteral("pdfinfo"), {pdf});
    QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages: +12\n"))), qPrintable(info));
    QStringList pages
        = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}).split(u'\f');
    if (pages.last().trimmed().isEmpty())
        pages.removeLast();
    QCOMPARE(pages.size(), 12);
    const QString cnpj = m_window->findChild<QLineEdit *>(QStringLiteral("DbeCnpj"))->text();
    for (qsizetype i = 0; i < pages.size(); ++i) {
        for (const QString &expected :
             {QStringLiteral("1001"), QStringLiteral("Comercial Ipê Ltda"), cnpj, QStringLiteral("04/03/2026 14:05:06"),
              QStringLiteral("Página %1 de 12").arg(i + 1)})
            QVERIFY2(pages.at(i).contains(expected),
                     qPrintable(QStringLiteral("page %1 lacks \"%2\":\n%3").arg(i + 1).arg(expected, pages.at(i))));
    }
}

void ArchiveViewTest::failureLeavesNoFile_data()
{
    QTest::addColumn<QString>("command"); // jpg, pdf: saved so; print: printed to a PDF file
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("save into a folder that is a file") << "jpg" << false;
    QTest::newRow("save into a read-only folder") << "jpg" << true;
    QTest::newRow("save a PDF into a folder that is a file") << "pdf" << false;
    QTest::newRow("print to a PDF in a folder that is a file") << "print" << false;
}

void ArchiveViewTest::failureLeavesNoFile()
{
    QFETCH(QString, command);
    QFETCH(bool, readOnlyFolder);
    const bool print = command == u"print";
    if (readOnlyFolder && geteuid() == 0)
        QSKIP("root writes through permission bits; a folder that is a file fails for root too");

    startWindow({reportJpeg(320, 800)});
    QTemporaryDir folder;
    const QString target = folder.filePath(QStringLiteral("pasta"));
    if (readOnlyFolder) {
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("pasta")));
        QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::ExeOwner));
    } else {
        QVERIFY(QFile(target).open(QIODevice::WriteOnly));
    }
    const QString fileName = target + QStringLiteral("/consulta.") + (print ? QStringLiteral("pdf") : command);
    QPrinter printer;
    printer.setOutputFileName(fileName); // a name ending in .pdf selects PDF output

    QVERIFY(!(print                ? m_commands->printReport(printer)
              : command == u"pdf" ? m_commands->savePdf(fileName)
                                  : m_commands->saveReport(fileName)));
    QCOMPARE(m_app->boxes.boxes.size(), 1);
    QCOMPARE(m_app->boxes.boxes.first().kind, MessageBox::Kind::Error);
    const QString text = m_app->boxes.boxes.first().text;
    const QString expected = (print               ? QStringLiteral("Erro ao imprimir consulta... \r\r")
                              : command == u"pdf" ? QStringLiteral("Erro ao salvar PDF... \r\r")
                                                  : QStringLiteral("Erro ao salvar imagem... \r\r"))
                             + fileName + QStringLiteral(": ");
    QVERIFY2(text.startsWith(expected) && text.size() > expected.size(), qPrintable(text)); // the reason follows
    QVERIFY(!QFileInfo::exists(fileName));
    if (readOnlyFolder) {
        QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

BROWSER_TEST_MAIN(ArchiveViewTest)
#include "tst_archiveview.moc"
