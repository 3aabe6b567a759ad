// Past the usual length on purpose: one subject, the capture, on one browser engine.
#include "apperror.h"
#include "browserfixture.h"
#include "browsersetup.h"
#include "framesource.h"
#include "jpegcodec.h"
#include "jpegsegments.h"
#include "pagecapture.h"
#include "samplesite.h"
#include "scriptrunner.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QMultiMap>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineView>
#include <QWidget>

#include <csignal>
#include <functional>
#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>

namespace {

constexpr int JpegTolerance = 40;
const QRect ViewGeometry(88, 22, 761, 465);
const QByteArray OldCapture("captura anterior, não é JPEG");

// Counts the resizes a widget receives.
class ResizeCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};

bool near(QColor got, QColor want)
{
    return qAbs(got.red() - want.red()) <= JpegTolerance && qAbs(got.green() - want.green()) <= JpegTolerance
           && qAbs(got.blue() - want.blue()) <= JpegTolerance;
}

// The first sample-site row whose colour at x is wrong, described; empty when all are right.
QString firstWrongRow(const QImage &image, int x)
{
    const int rows = (image.height() + SampleSite::RowHeight - 1) / SampleSite::RowHeight;
    for (int i = 0; i < rows; ++i) {
        const int top = i * SampleSite::RowHeight;
        const int y = top + (qMin(SampleSite::RowHeight, image.height() - top)) / 2;
        const QColor got = image.pixelColor(x, y);
        if (!near(got, SampleSite::rowColor(i)))
            return QStringLiteral("linha %1 em (%2, %3): %4 em vez de %5")
                .arg(i)
                .arg(x)
                .arg(y)
                .arg(got.name(), SampleSite::rowColor(i).name());
    }
    return {};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class PageCaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void capturesWholePage_data();
    void capturesWholePage();
    void capturesPagesLaidOutByTheWindow_data();
    void capturesPagesLaidOutByTheWindow();
    void takesWidestContent_data();
    void takesWidestContent();
    void writesBaselineAtQuality30();
    void secondCaptureReplacesFile();
    void capturesLeaveThePageAsItWas();
    void refusesWhatAJpegCannotHold_data();
    void refusesWhatAJpegCannotHold();
    void failedWriteKeepsOlderCapture();
    void tooTallForTileMemory();
    void pageWithoutBodyFailsBeforeResize();
    void pageThatKeepsGrowingIsToldSo();
    void hiddenBrowserFailsAtOnce();
    void unwritableFileNamesIt();
    void nullBrowserLeavesFileAlone();
    void frameWithoutBothMarkersIsRefused_data();
    void frameWithoutBothMarkersIsRefused();

private:
    bool load(const QUrl &url);
    void verifyViewRestored();

    std::unique_ptr<SampleSite> m_site;
    std::unique_ptr<BrowserFixture> m_browser;
    QWebEngineView *m_view = nullptr;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_file;
};

void PageCaptureTest::init()
{
    m_site = std::make_unique<SampleSite>();
    QVERIFY(m_site->listen());
    // The browser as the tool places it: not in a layout, free to grow past its tab page.
    m_browser = std::make_unique<BrowserFixture>();
    QVERIFY(m_browser->exposed);
    m_view = m_browser->view;
    QCOMPARE(m_view->geometry(), ViewGeometry);
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_file = m_dir->filePath(QStringLiteral("12345678000195"));
}

void PageCaptureTest::cleanup()
{
    m_browser.reset();
    m_view = nullptr;
    m_site.reset();
    m_dir.reset();
}

bool PageCaptureTest::load(const QUrl &url)
{
    return m_browser->load(url);
}

void PageCaptureTest::verifyViewRestored()
{
    QCOMPARE(m_view->geometry(), ViewGeometry);
    QVERIFY(m_view->isVisible());
}

void PageCaptureTest::capturesWholePage_data()
{
    QTest::addColumn<int>("height");
    QTest::newRow("3000 px") << 3000;
    QTest::newRow("16000 px") << 16000;
    QTest::newRow("32000 px") << 32000;
}

void PageCaptureTest::capturesWholePage()
{
    QFETCH(int, height);
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=%1").arg(height))));
    PageCapture capture(m_view);
    const int width = capture.contentSize().width();

    capture.captureTo(m_file);

    const QImage image = Jpeg::decode(readAll(m_file));
    QCOMPARE(image.size(), QSize(width, height));
    QCOMPARE(firstWrongRow(image, 5), QString());
    QCOMPARE(firstWrongRow(image, width - 3), QString());
    // The old frame left white below the first screen; the last line must be page, edge to edge.
    for (int x : {5, width / 2, width - 1}) {
        const QColor last = image.pixelColor(x, height - 1);
        QVERIFY2(near(last, SampleSite::rowColor((height - 1) / SampleSite::RowHeight)),
                 qPrintable(QStringLiteral("(%1, %2) é %3").arg(x).arg(height - 1).arg(last.name())));
    }
    verifyViewRestored();
}

void PageCaptureTest::capturesPagesLaidOutByTheWindow_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("band"); // px of the band above the rows: one window
    QTest::newRow("wrapper of min-height 100vh, footer after it") << "rodape" << 0;
    QTest::newRow("band of height 100vh") << "faixa" << ViewGeometry.height();
    QTest::newRow("band sized by a resize handler") << "script" << ViewGeometry.height();
}

void PageCaptureTest::capturesPagesLaidOutByTheWindow()
{
    QFETCH(QString, layout);
    QFETCH(int, band);
    const int rows = 4000;
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=%1&leiaute=%2").arg(rows).arg(layout))));

    PageCapture(m_view).captureTo(m_file);

    // As the window shows it: the band one window tall, every row once, in order, to the end.
    const QImage image = Jpeg::decode(readAll(m_file));
    QCOMPARE(image.height(), band + rows);
    if (band)
        QVERIFY(near(image.pixelColor(5, band / 2), QColor(SampleSite::BandColor)));
    QCOMPARE(firstWrongRow(image.copy(0, band, image.width(), rows), 5), QString());
    verifyViewRestored();
    // The page's own sizes and resize handlers are its own again: it is as tall as captured.
    const QString probe = QStringLiteral("document.querySelectorAll('[style*=important]').length + ':' + innerHeight"
                                         " + ':' + document.documentElement.scrollHeight");
    QTRY_COMPARE(ScriptRunner::run(m_view->page(), probe).toString(),
                 QStringLiteral("0:%1:%2").arg(band ? band : 465).arg(band + rows));
    if (layout == QLatin1String("script")) {
        m_view->resize(m_view->width(), 500);
        QTRY_COMPARE(ScriptRunner::run(m_view->page(), QStringLiteral("faixa.style.height")).toString(),
                     QStringLiteral("500px"));
    }
}

void PageCaptureTest::takesWidestContent_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QColor>("color");

    // The body scrolls on its own, so only its scroll width sees the 1500 px block.
    QTest::newRow("corpo mais largo que a raiz")
        << QByteArray("<!DOCTYPE html><html><head><style>"
                      "html{margin:0;overflow:hidden;width:800px}"
                      "body{margin:0;overflow:hidden;width:800px;height:1000px}"
                      "</style></head><body><div style=\"width:1500px;height:1000px;background:#0000c0\"></div>"
                      "</body></html>")
        << QSize(1500, 1000) << QPoint(5, 500) << QColor(0x0000c0);
    QTest::newRow("conteúdo mais largo que a vista")
        << QByteArray("<!DOCTYPE html><html><head><style>html,body{margin:0}</style></head><body>"
                      "<div style=\"width:1600px;height:1200px;background:#00a000\"></div></body></html>")
        << QSize(1600, 1200) << QPoint(1595, 1195) << QColor(0x00a000);
}

void PageCaptureTest::takesWidestContent()
{
    QFETCH(QByteArray, html);
    QFETCH(QSize, size);
    QFETCH(QPoint, probe);
    QFETCH(QColor, color);
    m_site->setPage(QStringLiteral("/larga"), html);
    QVERIFY(load(m_site->url(QStringLiteral("/larga"))));

    PageCapture(m_view).captureTo(m_file);

    const QImage image = Jpeg::decode(readAll(m_file));
    QCOMPARE(image.size(), size);
    QVERIFY2(near(image.pixelColor(probe), color), qPrintable(image.pixelColor(probe).name()));
    verifyViewRestored();
}

void PageCaptureTest::writesBaselineAtQuality30()
{
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=3000"))));

    PageCapture(m_view).captureTo(m_file);

    const QByteArray jpeg = readAll(m_file);
    const QList<QByteArray> frame = jpegSegments(jpeg, 0xFFC0);
    QVERIFY2(!frame.isEmpty(), "no baseline frame header (SOF0)");
    QVERIFY(jpegSegments(jpeg, 0xFFC2).isEmpty());
    // Colour: the frame header (precision, height, width, components) declares three components.
    QVERIFY(frame.first().size() > 5);
    QCOMPARE(uchar(frame.first().at(5)), 3);
    QImage sample(16, 16, QImage::Format_RGB888);
    sample.fill(Qt::gray);
    QCOMPARE(jpegSegments(jpeg, 0xFFDB), jpegSegments(Jpeg::encode(sample, 30), 0xFFDB));
    QVERIFY(jpegSegments(jpeg, 0xFFDB) != jpegSegments(Jpeg::encode(sample, 75), 0xFFDB));
}

void PageCaptureTest::secondCaptureReplacesFile()
{
    // An older run's file, readable by everyone: the capture is the user's alone.
    QVERIFY(writeAll(m_file, OldCapture));
    QVERIFY(QFile::setPermissions(m_file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=3000"))));
    PageCapture(m_view).captureTo(m_file);
    QCOMPARE(Jpeg::decode(readAll(m_file)).height(), 3000);
    struct stat status
    { };
    QCOMPARE(::stat(QFile::encodeName(m_file).constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0600));

    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=1200"))));
    PageCapture(m_view).captureTo(m_file);

    QCOMPARE(Jpeg::decode(readAll(m_file)).height(), 1200);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("12345678000195")});
}

void PageCaptureTest::capturesLeaveThePageAsItWas()
{
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=3000"))));
    const QSize content = PageCapture(m_view).contentSize();
    const QString markers = QStringLiteral("document.querySelectorAll('[id^=__devezozuvor]').length");

    // Back to back, as when the view is still on its way back from the first.
    PageCapture(m_view).captureTo(m_file);
    PageCapture(m_view).captureTo(m_file);

    QCOMPARE(Jpeg::decode(readAll(m_file)).height(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(ScriptRunner::run(m_view->page(), markers).toInt(), 0, 5000);
    QCOMPARE(PageCapture(m_view).contentSize(), content);
    verifyViewRestored();
}

void PageCaptureTest::refusesWhatAJpegCannotHold_data()
{
    QTest::addColumn<QByteArray>("style");
    QTest::addColumn<bool>("olderFile");
    QTest::addColumn<QString>("reason");
    QTest::newRow("alta, sem captura anterior")
        << QByteArray("width:100px;height:65501px") << false
        << QStringLiteral("a página é alta demais para ser capturada inteira (65501 px)");
    QTest::newRow("larga, com captura anterior")
        << QByteArray("width:65501px;height:100px") << true
        << QStringLiteral("a página é larga demais para ser capturada inteira (65501 px)");
}

void PageCaptureTest::refusesWhatAJpegCannotHold()
{
    QFETCH(QByteArray, style);
    QFETCH(bool, olderFile);
    QFETCH(QString, reason);
    if (olderFile)
        QVERIFY(writeAll(m_file, OldCapture));
    m_site->setPage(QStringLiteral("/enorme"), "<!DOCTYPE html><html><body style=\"margin:0\"><div style=\"" + style
                                                   + ";background:#c00000\"></div></body></html>");
    QVERIFY(load(m_site->url(QStringLiteral("/enorme"))));
    ResizeCounter resizes;
    m_view->installEventFilter(&resizes);

    try {
        PageCapture(m_view).captureTo(m_file);
        QFAIL("a page no JPEG can hold was captured");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QStringLiteral("Não foi possível capturar a página: ") + reason);
    }

    // Refused before the page was drawn at that size.
    QCOMPARE(resizes.count, 0);
    QCOMPARE(QFile::exists(m_file), olderFile);
    if (olderFile)
        QCOMPARE(readAll(m_file), OldCapture);
    verifyViewRestored();
}

void PageCaptureTest::failedWriteKeepsOlderCapture()
{
    QVERIFY(writeAll(m_file, OldCapture));
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=3000"))));

    // The file opens, then the system refuses the JPEG's writes past 4 kB.
    rlimit before{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 4096;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto restore = qScopeGuard([&] {
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
    });

    try {
        PageCapture(m_view).captureTo(m_file);
        QFAIL("the capture was written past the file size limit");
    } catch (const AppError &e) {
        QVERIFY2(e.message().startsWith(QStringLiteral("Não foi possível capturar a página: ")),
                 qPrintable(e.message()));
    }

    QCOMPARE(readAll(m_file), OldCapture);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("12345678000195")});
    verifyViewRestored();
}

void PageCaptureTest::tooTallForTileMemory()
{
    if (!qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains(QLatin1String("--force-gpu-mem-available-mb")))
        QSKIP("Runs as tst_pagecapture_tilememory, with the engine's tile memory cut down.");
    QVERIFY(writeAll(m_file, OldCapture));
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=16000"))));

    try {
        PageCapture(m_view).captureTo(m_file);
        QFAIL("a page larger than the engine's tile memory was captured");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QStringLiteral("Não foi possível capturar a página: "
                                             "a página é alta demais para ser capturada inteira (16000 px)"));
    }

    QCOMPARE(readAll(m_file), OldCapture);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("12345678000195")});
    verifyViewRestored();
}

void PageCaptureTest::pageThatKeepsGrowingIsToldSo()
{
    m_site->setPage(QStringLiteral("/crescendo"),
                    "<!DOCTYPE html><html><body style=\"margin:0\"><div style=\"height:2000px;background:#0a0\"></div>"
                    "<script>setInterval(() => { const row = document.createElement('div'); row.style.height = '40px';"
                    " document.body.appendChild(row); }, 30);</script></body></html>");
    QVERIFY(load(m_site->url(QStringLiteral("/crescendo"))));
    QElapsedTimer timer;
    timer.start();
    try {
        PageCapture(m_view).captureTo(m_file);
        QFAIL("a page that never stops growing was captured");
    } catch (const AppError &e) {
        QVERIFY2(e.message().startsWith(
                     QStringLiteral("Não foi possível capturar a página: a página muda de altura enquanto é capturada (")),
                 qPrintable(e.message()));
    }
    // Told as soon as it is seen, not at the end of the frame's time.
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(!QFile::exists(m_file));
    verifyViewRestored();
}

void PageCaptureTest::pageWithoutBodyFailsBeforeResize()
{
    QVERIFY(load(QUrl(QStringLiteral("data:image/svg+xml,<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                     "width=\"100\" height=\"100\"/>"))));
    ResizeCounter resizes;
    m_view->installEventFilter(&resizes);

    try {
        PageCapture(m_view).captureTo(m_file);
        QFAIL("a page without a body was captured");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QStringLiteral("A página não tem documento ou corpo para capturar."));
    }

    QCOMPARE(resizes.count, 0);
    QVERIFY(!QFile::exists(m_file));
}

void PageCaptureTest::hiddenBrowserFailsAtOnce()
{
    QVERIFY(writeAll(m_file, OldCapture));
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=3000"))));
    m_browser->parent.hide();
    QElapsedTimer timer;
    timer.start();

    try {
        PageCapture(m_view).captureTo(m_file);
        QFAIL("captured a page that was not drawn");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), QStringLiteral("Não foi possível capturar a página: "
                                             "o navegador não está à vista, e oculto ele não desenha a página"));
    }

    QCOMPARE_LT(timer.elapsed(), 5000);
    QCOMPARE(readAll(m_file), OldCapture);
    QCOMPARE(m_view->geometry(), ViewGeometry);
}

void PageCaptureTest::unwritableFileNamesIt()
{
    const QString file = m_dir->filePath(QStringLiteral("pasta-que-falta/12345678000195"));
    QVERIFY(load(m_site->url(QStringLiteral("/pagina?altura=1200"))));

    try {
        PageCapture(m_view).captureTo(file);
        QFAIL("wrote into a missing folder");
    } catch (const AppError &e) {
        const QString start
            = QStringLiteral("Não foi possível capturar a página: o arquivo \"%1\" não pôde ser criado: ").arg(file);
        QVERIFY2(e.message().startsWith(start), qPrintable(e.message()));
    }

    verifyViewRestored();
}

void PageCaptureTest::nullBrowserLeavesFileAlone()
{
    QVERIFY(writeAll(m_file, OldCapture));
    const std::function<void()> captures[] = {
        [&] { CapturaPagina(nullptr, m_file, QSize(761, 465)); },
        [&] { PageCapture(nullptr).captureTo(m_file); },
    };

    for (const auto &capture : captures) {
        try {
            capture();
            QFAIL("captured without a browser");
        } catch (const AppError &e) {
            QCOMPARE(e.message(),
                     QStringLiteral("Não foi possível capturar a página: o navegador não está disponível"));
        }
        QCOMPARE(readAll(m_file), OldCapture);
    }
}

void PageCaptureTest::frameWithoutBothMarkersIsRefused_data()
{
    QTest::addColumn<bool>("frameMarker");
    QTest::addColumn<bool>("pageEndMarker");
    QTest::addColumn<QString>("refusal"); // empty: the frame is taken
    QTest::newRow("os dois marcadores") << true << true << QString();
    // Only the frame marker proves the frame laid out at this size: without it, it may be an older frame.
    QTest::newRow("sem o marcador do quadro")
        << false << true << QStringLiteral("o navegador não desenhou a página inteira (761 x 464 px) em 2 s");
    QTest::newRow("sem o marcador do fim da página")
        << true << false << QStringLiteral("a página é alta demais para ser capturada inteira (464 px)");
}

void PageCaptureTest::frameWithoutBothMarkersIsRefused()
{
    QFETCH(bool, frameMarker);
    QFETCH(bool, pageEndMarker);
    QFETCH(QString, refusal);
    // A page exactly the view's size that draws, in the strip's row, what the markers would show.
    const MarkerColours colours{qRgb(10, 200, 30), qRgb(200, 20, 220)};
    const auto marker = [](int x, QRgb colour) {
        return QStringLiteral("<div style=\"position:absolute;left:%1px;top:464px;width:2px;height:1px;"
                              "background:%2\"></div>")
            .arg(x)
            .arg(QColor(colour).name())
            .toUtf8();
    };
    m_site->setPage(QStringLiteral("/marcada"),
                    "<!DOCTYPE html><html><body style=\"margin:0;overflow:hidden;background:#3060a0\">"
                        + (frameMarker ? marker(0, colours.frame) : QByteArray())
                        + (pageEndMarker ? marker(759, colours.pageEnd) : QByteArray()) + "</body></html>");
    QVERIFY(load(m_site->url(QStringLiteral("/marcada"))));
    QCOMPARE(m_view->size(), QSize(761, 465));

    FrameSource frames(m_view, QSize(761, 464), colours, 1500);
    try {
        const QImage page = frames.waitForPage();
        QVERIFY2(refusal.isEmpty(), "a frame without both markers was taken");
        QCOMPARE(page.size(), QSize(761, 464));
        QCOMPARE(page.pixelColor(380, 463), QColor(0x3060a0));
    } catch (const AppError &e) {
        QCOMPARE(e.message(), refusal);
    }
}

// The browser set up as the tool sets it up.
BROWSER_TEST_MAIN(PageCaptureTest)
#include "tst_pagecapture.moc"
