// Past the usual length on purpose: one subject, the capture, on one browser engine.
#include "apperror.h"
#include "browserfixture.h"
#include "framesource.h"
#include "jpegcodec.h"
#include "jpegsegments.h"
#include "pagecapture.h"
#include "samplesite.h"
#include "scriptrunner.h"
#include "textlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

#include <sys/resource.h>

using namespace Qt::StringLiterals;

namespace {

const QRect ViewGeometry(88, 22, 761, 465);
const QString FileName = u"12345678000195"_s;
const QByteArray OldCapture("captura anterior, não é JPEG");
const QString Failed = u"Não foi possível capturar a página: "_s;

// What a refused capture is tried under, besides its page.
enum Fault { NoFault, NoBrowser, Hidden, MissingFolder, SmallFiles, TileMemory };

struct ResizeCounter : QObject
{
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Resize;
        return false;
    }
};

bool near(QColor got, QColor want)
{
    constexpr int JpegTolerance = 40;
    return qAbs(got.red() - want.red()) <= JpegTolerance && qAbs(got.green() - want.green()) <= JpegTolerance
           && qAbs(got.blue() - want.blue()) <= JpegTolerance;
}

// The first sample-site row whose colour at x is wrong, described; empty when all are right.
QString firstWrongRow(const QImage &image, int x)
{
    for (int i = 0; i * SampleSite::RowHeight < image.height(); ++i) {
        const int top = i * SampleSite::RowHeight;
        const int y = top + (qMin(SampleSite::RowHeight, image.height() - top)) / 2;
        const QColor got = image.pixelColor(x, y);
        if (!near(got, SampleSite::rowColor(i)))
            return u"linha %1 em (%2, %3): %4 em vez de %5"_s.arg(i).arg(x).arg(y).arg(got.name(),
                                                                                       SampleSite::rowColor(i).name());
    }
    return {};
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The message of the AppError the call throws; empty when it throws none.
template<typename Call>
QString refusal(Call &&call)
{
    try {
        call();
    } catch (const AppError &e) {
        return e.message();
    }
    return {};
}

// While the guard lives, with `limit`, the system refuses a file's writes past 4 kB.
auto fileSizeLimit(bool limit)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    const rlimit small{limit ? 4096 : before.rlim_cur, before.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    return qScopeGuard([before] { ::setrlimit(RLIMIT_FSIZE, &before); });
}

} // namespace

class PageCaptureTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_site.listen()); }
    void init();
    void cleanup()
    {
        m_browser.reset();
        m_dir.reset();
    }

    void capturesWholePage_data();
    void capturesWholePage();
    void takesWidestContent_data();
    void takesWidestContent();
    void capturedText_data();
    void capturedText();
    void refused_data();
    void refused();
    void frameWithoutBothMarkersIsRefused_data();
    void frameWithoutBothMarkersIsRefused();

private:
    bool load(const QString &page);
    QByteArray capture();

    SampleSite m_site;
    std::optional<BrowserFixture> m_browser;
    QWebEngineView *m_view = nullptr;
    std::optional<QTemporaryDir> m_dir;
    QString m_file;
};

// Each case starts with an older run's file, readable by everyone, where the capture goes.
void PageCaptureTest::init()
{
    // The browser as the tool places it: not in a layout, free to grow past its tab page.
    m_browser.emplace();
    QVERIFY(m_browser->exposed);
    m_view = m_browser->view;
    QCOMPARE(m_view->geometry(), ViewGeometry);
    m_dir.emplace();
    m_file = m_dir->filePath(FileName);
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(OldCapture) == OldCapture.size());
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
}

// Loads a path of the sample site, or a page of that body (starting with '<').
bool PageCaptureTest::load(const QString &page)
{
    const bool body = page.startsWith(u'<');
    if (body)
        m_site.setPage(u"/teste"_s,
                       ("<!DOCTYPE html><html><body style=\"margin:0\">" + page + "</body></html>").toUtf8());
    return m_browser->load(m_site.url(body ? u"/teste"_s : page));
}

QByteArray PageCaptureTest::capture()
{
    PageCapture(m_view).captureTo(m_file);
    return readAll(m_file);
}

void PageCaptureTest::capturesWholePage_data()
{
    QTest::addColumn<int>("rows"); // px of the sample site's rows
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("band"); // px of the band above the rows: one window
    QTest::newRow("3000 px") << 3000 << QString() << 0;
    QTest::newRow("16000 px") << 16000 << QString() << 0;
    QTest::newRow("32000 px") << 32000 << QString() << 0;
    QTest::newRow("wrapper of min-height 100vh, footer after it") << 4000 << u"rodape"_s << 0;
    QTest::newRow("band of height 100vh") << 4000 << u"faixa"_s << ViewGeometry.height();
    QTest::newRow("band sized by a resize handler") << 4000 << u"script"_s << ViewGeometry.height();
}

void PageCaptureTest::capturesWholePage()
{
    QFETCH(int, rows);
    QFETCH(QString, layout);
    QFETCH(int, band);
    QVERIFY(load(u"/pagina?altura=%1&leiaute=%2"_s.arg(rows).arg(layout)));
    const QSize content = PageCapture(m_view).contentSize();

    // Back to back, as when the view is still on its way back from the first.
    PageCapture(m_view).captureTo(m_file);
    const QByteArray jpeg = capture();

    // As the window shows it: the band one window tall, every row once, in order, to the end.
    const QImage image = Jpeg::decode(jpeg);
    QCOMPARE(image.size(), content);
    QCOMPARE(image.height(), band + rows);
    if (band)
        QVERIFY(near(image.pixelColor(5, band / 2), QColor(SampleSite::BandColor)));
    const QImage page = image.copy(0, band, image.width(), rows);
    QCOMPARE(firstWrongRow(page, 5), QString());
    QCOMPARE(firstWrongRow(page, page.width() - 3), QString());
    // The old frame left white below the first screen; the last line must be page, edge to edge.
    for (int x : {5, page.width() / 2, page.width() - 1}) {
        const QColor last = page.pixelColor(x, rows - 1);
        QVERIFY2(near(last, SampleSite::rowColor((rows - 1) / SampleSite::RowHeight)), qPrintable(last.name()));
    }
    QCOMPARE(m_view->geometry(), ViewGeometry);
    QVERIFY(m_view->isVisible());
    // The page's own sizes and resize handlers are its own again, no marker left: it is as tall as captured.
    const QString probe = u"document.querySelectorAll('[style*=important],[id^=__devezozuvor]').length + ':' +"
                          " innerHeight + ':' + document.documentElement.scrollHeight"_s;
    QTRY_COMPARE(ScriptRunner::run(m_view->page(), probe).toString(),
                 u"0:%1:%2"_s.arg(band ? band : 465).arg(band + rows));
    QCOMPARE(PageCapture(m_view).contentSize(), content);
    if (layout == "script"_L1) {
        m_view->resize(m_view->width(), 500);
        QTRY_COMPARE(ScriptRunner::run(m_view->page(), u"faixa.style.height"_s).toString(), u"500px"_s);
    }
    // Baseline, three colour components, quality 30; the older file replaced whole, the user's alone.
    const QList<QByteArray> frame = jpegSegments(jpeg, 0xFFC0);
    QVERIFY2(!frame.isEmpty() && frame.first().size() > 5 && jpegSegments(jpeg, 0xFFC2).isEmpty(), "no baseline");
    QCOMPARE(uchar(frame.first().at(5)), 3);
    QImage sample(16, 16, QImage::Format_RGB888);
    sample.fill(Qt::gray);
    QCOMPARE(jpegSegments(jpeg, 0xFFDB), jpegSegments(Jpeg::encode(sample, 30), 0xFFDB));
    QVERIFY(jpegSegments(jpeg, 0xFFDB) != jpegSegments(Jpeg::encode(sample, 75), 0xFFDB));
    QCOMPARE(QFile::permissions(m_file), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{FileName});
}

void PageCaptureTest::takesWidestContent_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QPoint>("probe");
    QTest::addColumn<QColor>("color");
    // The body scrolls on its own, so only its scroll width sees the 1500 px block.
    QTest::newRow("corpo mais largo que a raiz")
        << u"<style>html{overflow:hidden;width:800px}body{overflow:hidden;width:800px;height:1000px}</style>"
           "<div style=\"width:1500px;height:1000px;background:#0000c0\"></div>"_s
        << QSize(1500, 1000) << QPoint(5, 500) << QColor(0x0000c0);
    QTest::newRow("conteúdo mais largo que a vista")
        << u"<div style=\"width:1600px;height:1200px;background:#00a000\"></div>"_s << QSize(1600, 1200)
        << QPoint(1595, 1195) << QColor(0x00a000);
}

void PageCaptureTest::takesWidestContent()
{
    QFETCH(QString, body);
    QFETCH(QSize, size);
    QFETCH(QPoint, probe);
    QFETCH(QColor, color);
    QVERIFY(load(body));

    const QImage image = Jpeg::decode(capture());

    QCOMPARE(image.size(), size);
    QVERIFY2(near(image.pixelColor(probe), color), qPrintable(image.pixelColor(probe).name()));
    QCOMPARE(m_view->geometry(), ViewGeometry);
    QVERIFY(m_view->isVisible());
}

// The page's visible text read at the capture and carried by the capture file.
void PageCaptureTest::capturedText_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("texts");
    const QString line = u"<p style=\"margin:0;font:12px/16px sans-serif\">%1</p>"_s;
    QTest::newRow("lines in order, pieces joined")
        << line.arg(u"Relatório de <b>crédito</b>: PROTESTO"_s) + line.arg(u"a<i>b</i> c"_s)
        << QStringList{u"Relatório de crédito: PROTESTO"_s, u"ab c"_s};
    QTest::newRow("wrapped words go to their lines")
        << u"<p style=\"width:1px;margin:0;font:12px/16px sans-serif\">um dois\ntrês</p>"_s
        << QStringList{u"um"_s, u"dois"_s, u"três"_s};
    QTest::newRow("hidden text left out")
        << line.arg(u"visto <span style=\"visibility:hidden\">oculto</span>"_s)
               + u"<p style=\"display:none\">nada</p><script>let x = 'código';</script>"_s
        << QStringList{u"visto"_s};
    QTest::newRow("no text, no layer") << u"<div style=\"height:300px;background:red\"></div>"_s << QStringList();
}

void PageCaptureTest::capturedText()
{
    QFETCH(QString, body);
    QFETCH(QStringList, texts);
    const QString placed = u"<p style=\"position:absolute;top:1306px;left:40px;margin:0;font:12px/16px sans-serif\">"
                           "Linha 13 - nada consta</p>"_s;
    QVERIFY(load(body + (texts.isEmpty() ? QString() : placed)));

    const QByteArray bytes = capture();

    const QImage picture = Jpeg::decode(bytes);
    const ReportText lines = Jpeg::textLayer(bytes);
    QStringList got;
    for (const ReportLine &line : lines)
        got.append(line.text);
    QCOMPARE(got, texts.isEmpty() ? texts : texts << u"Linha 13 - nada consta"_s);
    QVERIFY(!picture.isNull());
    if (lines.isEmpty())
        return;
    // Where the picture has it: the line's box around its 16 px line, from its left edge.
    const ReportLine &last = lines.last();
    QVERIFY2(qAbs(last.top - 1306) <= 3 && last.height >= 10 && last.height <= 18 && last.left == 40,
             qPrintable(u"%1 %2 %3"_s.arg(last.top).arg(last.height).arg(last.left)));
    QVERIFY(last.left + last.width < picture.width() && last.top + last.height < picture.height());
}

void PageCaptureTest::refused_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("drawn");      // whether the view took the page's size before the refusal
    QTest::addColumn<QString>("message"); // ending in "…": its start; %1 the file
    const QString tall = Failed + u"a página é alta demais para ser capturada inteira (%1 px)"_s;
    const QString block = u"<div style=\"%1;background:#c00000\"></div>"_s;
    QTest::newRow("too tall for a JPEG") << block.arg(u"width:100px;height:65501px"_s) << int(NoFault) << false
                                         << tall.arg(65501);
    QTest::newRow("too wide for a JPEG") << block.arg(u"width:65501px;height:100px"_s) << int(NoFault) << false
                                         << Failed + u"a página é larga demais para ser capturada inteira (65501 px)"_s;
    QTest::newRow("too tall for the tile memory")
        << u"/pagina?altura=16000"_s << int(TileMemory) << true << tall.arg(16000);
    QTest::newRow("no body") << u"/imagem?linha=0&altura=100"_s << int(NoFault) << false
                             << u"A página não tem documento ou corpo para capturar."_s;
    // Told as soon as it is seen, not at the end of the frame's time.
    QTest::newRow("keeps growing")
        << u"<div style=\"height:2000px;background:#0a0\"></div><script>setInterval(() => { const row = "
           "document.createElement('div'); row.style.height = '40px'; document.body.appendChild(row); }, 30);</script>"_s
        << int(NoFault) << true << Failed + u"a página muda de altura enquanto é capturada (…"_s;
    QTest::newRow("no browser") << u"/pagina?altura=1200"_s << int(NoBrowser) << false
                                << Failed + u"o navegador não está disponível"_s;
    QTest::newRow("browser hidden") << u"/pagina?altura=3000"_s << int(Hidden) << false
                                    << Failed + u"o navegador não está à vista, e oculto ele não desenha a página"_s;
    QTest::newRow("missing folder") << u"/pagina?altura=1200"_s << int(MissingFolder) << true
                                    << Failed + u"o arquivo \"%1\" não pôde ser criado: …"_s;
    // The file opens, then the system refuses the JPEG's writes.
    QTest::newRow("write refused") << u"/pagina?altura=3000"_s << int(SmallFiles) << true
                                   << Failed + u"Erro ao gravar imagem JPEG: …"_s;
}

// Refused with its reason, before the page is drawn where it can be told sooner; the older file kept.
void PageCaptureTest::refused()
{
    QFETCH(QString, page);
    QFETCH(int, fault);
    QFETCH(bool, drawn);
    QFETCH(QString, message);
    if (fault == TileMemory && !qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS").contains("--force-gpu-mem"_L1))
        QSKIP("Runs as tst_pagecapture_tilememory, with the engine's tile memory cut down.");
    QVERIFY(load(page));
    const QString file = fault == MissingFolder ? m_dir->filePath(u"pasta-que-falta/"_s + FileName) : m_file;
    if (fault == Hidden)
        m_browser->parent.hide();
    ResizeCounter resizes;
    m_view->installEventFilter(&resizes);
    QElapsedTimer timer;
    timer.start();

    QString got = refusal([&] {
        const auto limit = fileSizeLimit(fault == SmallFiles);
        PageCapture(fault == NoBrowser ? nullptr : m_view).captureTo(file);
    });

    message.replace(u"%1"_s, file);
    if (message.endsWith(u'…')) {
        message.chop(1);
        got.truncate(message.size());
    }
    QCOMPARE(got, message);
    if (fault == NoBrowser)
        QCOMPARE(refusal([&] { CapturaPagina(nullptr, m_file, QSize(761, 465)); }), message);
    QCOMPARE(resizes.count > 0, drawn);
    if (fault != TileMemory)
        QCOMPARE_LT(timer.elapsed(), 5000);
    QCOMPARE(readAll(m_file), OldCapture);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{FileName});
    QCOMPARE(m_view->geometry(), ViewGeometry);
    QCOMPARE(m_view->isVisible(), fault != Hidden);
}

void PageCaptureTest::frameWithoutBothMarkersIsRefused_data()
{
    QTest::addColumn<QString>("markers"); // drawn in the strip's row as the capture's would show
    QTest::addColumn<QString>("reason");  // empty: the frame is taken
    const QString marker = u"<div style=\"position:absolute;top:464px;width:2px;height:1px;%1\"></div>"_s;
    const QString frame = marker.arg(u"left:0;background:#0ac81e"_s);
    const QString pageEnd = marker.arg(u"left:759px;background:#c814dc"_s);
    QTest::newRow("os dois marcadores") << frame + pageEnd << QString();
    // Only the frame marker proves the frame laid out at this size: without it, it may be an older frame.
    QTest::newRow("sem o marcador do quadro")
        << pageEnd << u"o navegador não desenhou a página inteira (761 x 464 px) em 2 s"_s;
    QTest::newRow("sem o marcador do fim da página")
        << frame << u"a página é alta demais para ser capturada inteira (464 px)"_s;
}

// A page exactly the view's size.
void PageCaptureTest::frameWithoutBothMarkersIsRefused()
{
    QFETCH(QString, markers);
    QFETCH(QString, reason);
    QVERIFY(load(u"<style>body{overflow:hidden;background:#3060a0}</style>"_s + markers));
    QCOMPARE(m_view->size(), QSize(761, 465));

    QImage page;
    const MarkerColours colours{qRgb(10, 200, 30), qRgb(200, 20, 220)};
    QCOMPARE(refusal([&] { page = FrameSource(m_view, QSize(761, 464), colours, 1500).waitForPage(); }), reason);
    if (reason.isEmpty()) {
        QCOMPARE(page.size(), QSize(761, 464));
        QCOMPARE(page.pixelColor(380, 463), QColor(0x3060a0));
    }
}

// The browser set up as the tool sets it up.
BROWSER_TEST_MAIN(PageCaptureTest)
#include "tst_pagecapture.moc"
