// bench_capture [altura ...]
// (Longer than a file should be: both modes share the page loading and the measures.)
// bench_capture --url URL --out FILE --reps N
//
// Table mode: captures sample-site pages of the given heights (default 2000 8000
// 16000 32000) through PageCapture::captureTo, each in a fresh child process so
// that every peak is that size's own, and prints one table row per height.
// URL mode: loads URL in a view placed like the tool's browser, waits (untimed)
// until it has settled as the tool does, captures it N+1 times into FILE (the
// first is the warm-up) and prints one JSON line last.
#include "apperror.h"
#include "browsersetup.h"
#include "jpegcodec.h"
#include "pagecapture.h"
#include "reportsettle.h"
#include "samplesite.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWebEngineView>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <cstdio>

namespace {

const char ChildOption[] = "--filho";
const char ResultTag[] = "RESULTADO";

// A "VmXxx:  1234 kB" line of /proc/<pid>/status, in kB; -1 when unreadable.
qint64 statusKb(const QString &pid, const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void collectDescendants(const QString &pid, QStringList *out)
{
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile children(tasks.filePath(task + QStringLiteral("/children")));
        if (!children.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &child : children.readAll().simplified().split(' ')) {
            if (child.isEmpty())
                continue;
            out->append(QString::fromLatin1(child));
            collectDescendants(out->constLast(), out);
        }
    }
}

// The largest peak among the engine's helper processes (the renderer holds the page's tiles).
qint64 helperPeakKb()
{
    QStringList helpers;
    collectDescendants(QString::number(QCoreApplication::applicationPid()), &helpers);
    qint64 peak = -1;
    for (const QString &pid : helpers)
        peak = qMax(peak, statusKb(pid, "VmHWM"));
    return peak;
}

// The browser as the tool places it on its tab page, shown.
QWebEngineView *placeView(QWidget *tab)
{
    tab->resize(925, 517);
    auto *view = new QWebEngineView(tab);
    view->setGeometry(88, 22, 761, 465);
    tab->show();
    return view;
}

bool load(QWebEngineView *view, const QUrl &url)
{
    bool loaded = false;
    QEventLoop loading;
    QObject::connect(view, &QWebEngineView::loadFinished, &loading, [&](bool ok) {
        loaded = ok;
        loading.quit();
    });
    QTimer::singleShot(60000, &loading, &QEventLoop::quit);
    view->load(url);
    loading.exec();
    return loaded;
}

// Milliseconds to encode the picture in a JPEG file, read back in the grab's
// 32-bit format, the way the capture encodes it.
qint64 encodeMs(const QByteArray &jpeg)
{
    const QImage image = Jpeg::decode(jpeg).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QElapsedTimer timer;
    timer.start();
    Jpeg::encode(image, 30, &buffer);
    return timer.elapsed();
}

// The picture's size as its header gives it, read by Qt's own JPEG reader
// without decoding: a decode here would add to the peak being measured.
QSize sizeOf(QByteArray jpeg)
{
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader(&buffer, "jpeg").size();
}

// One size in this process; prints a RESULTADO line or an error.
int runChild(int argc, char **argv, int height)
{
    QApplication app(argc, argv);
    SampleSite site;
    if (!site.listen()) {
        std::fprintf(stderr, "o site de exemplo não abriu uma porta\n");
        return 1;
    }
    QWidget tab;
    QWebEngineView *view = placeView(&tab);
    if (!load(view, site.url(QStringLiteral("/pagina?altura=%1").arg(height)))) {
        std::fprintf(stderr, "a página de %d px não carregou\n", height);
        return 1;
    }

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("captura"));
    const QString self = QString::number(QCoreApplication::applicationPid());
    const qint64 rssBefore = statusKb(self, "VmRSS");
    const qint64 hwmBefore = statusKb(self, "VmHWM");
    QElapsedTimer timer;
    timer.start();
    try {
        PageCapture(view).captureTo(file);
    } catch (const AppError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const qint64 captureMs = timer.elapsed();
    const qint64 hwmAfter = statusKb(self, "VmHWM");
    const qint64 helperPeak = helperPeakKb();

    QFile jpeg(file);
    if (!jpeg.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray written = jpeg.readAll();
    const QSize size = sizeOf(written);

    std::printf("%s %d %d %lld %lld %lld %lld %lld %lld %lld\n", ResultTag, size.width(), size.height(), captureMs,
                encodeMs(written), rssBefore, hwmBefore, hwmAfter, helperPeak, qint64(written.size()));
    return 0;
}

// Captures url reps+1 times into file; the last line printed is one JSON object.
int runUrl(int argc, char **argv, const QUrl &url, const QString &file, int reps)
{
    QApplication app(argc, argv);
    QWidget tab;
    QWebEngineView *view = placeView(&tab);
    ReportSettle::prepare(view->page());
    if (!load(view, url)) {
        std::fprintf(stderr, "a página %s não carregou\n", qPrintable(url.toString()));
        return 1;
    }
    // Untimed, as the tool does before its capture: what the page fills, shows or loads after its load.
    try {
        ReportSettle::wait(view->page(), QDeadlineTimer(ReportSettle::LimitMs), nullptr);
    } catch (const AppError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }

    const QString self = QString::number(QCoreApplication::applicationPid());
    const qint64 rssBefore = statusKb(self, "VmRSS");
    QList<qint64> times;
    QElapsedTimer timer;
    for (int i = 0; i <= reps; ++i) {
        timer.start();
        try {
            PageCapture(view).captureTo(file);
        } catch (const AppError &e) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        times.append(timer.elapsed());
    }
    const qint64 firstMs = times.takeFirst();
    std::sort(times.begin(), times.end());
    const qint64 medianMs = times.isEmpty() ? firstMs : times.at(times.size() / 2);

    // What stays resident once the capture has returned and the engine has
    // let go of the page: the processes' memory, polled until it has not
    // fallen for a while (at most a few seconds).
    const auto treeKb = [&self] {
        QStringList helpers;
        collectDescendants(self, &helpers);
        qint64 kb = 0;
        for (const QString &pid : helpers)
            kb += qMax<qint64>(0, statusKb(pid, "VmRSS"));
        return std::pair(statusKb(self, "VmRSS"), kb);
    };
    auto after = treeKb();
    qint64 releasedMs = 0;
    timer.start();
    for (QElapsedTimer steady; timer.elapsed() < 3000;) {
        if (!steady.isValid())
            steady.start();
        QEventLoop round;
        QTimer::singleShot(10, &round, &QEventLoop::quit);
        round.exec();
        const auto now = treeKb();
        if (now.first + now.second < after.first + after.second - 1024) {
            releasedMs = timer.elapsed();
            steady.restart();
        }
        after = std::pair(qMin(after.first, now.first), qMin(after.second, now.second));
        if (steady.elapsed() >= 300)
            break;
    }
    const qint64 rssAfter = after.first;
    const qint64 helpersAfter = after.second;

    QFile jpeg(file);
    if (!jpeg.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray written = jpeg.readAll();
    const QSize size = sizeOf(written);
    QJsonObject result{{QStringLiteral("width"), size.width()},
                       {QStringLiteral("height"), size.height()},
                       {QStringLiteral("first_ms"), firstMs},
                       {QStringLiteral("median_ms"), medianMs},
                       {QStringLiteral("bytes"), written.size()},
                       {QStringLiteral("rss_before_mb"), qRound(rssBefore / 1024.0)},
                       {QStringLiteral("rss_after_mb"), qRound(rssAfter / 1024.0)},
                       {QStringLiteral("helpers_rss_after_mb"), qRound(helpersAfter / 1024.0)},
                       {QStringLiteral("released_ms"), releasedMs}};
    if (reps > 0) {
        // Reported only where it does not disturb a memory measurement (--reps 0).
        result.insert(QStringLiteral("encode_ms"), encodeMs(written));
        // The archive tab: decode the record once, then paint the part its scroll
        // box shows; in 24-bit rows and in the 32-bit rows a screen takes as they are.
        for (const auto &[format, prefix] :
             {std::pair(QImage::Format_RGB888, "decode"), std::pair(QImage::Format_RGB32, "decode32")}) {
            const qint64 rssShown = statusKb(self, "VmRSS");
            timer.start();
            const QImage shown = Jpeg::decode(written, format);
            const QString name = QString::fromLatin1(prefix);
            result.insert(name + QStringLiteral("_ms"), timer.elapsed());
            result.insert(name + QStringLiteral("_image_mb"), qRound(shown.sizeInBytes() / 1048576.0));
            result.insert(name + QStringLiteral("_rss_growth_mb"),
                          qRound((statusKb(self, "VmRSS") - rssShown) / 1024.0));
            QImage screen(761, 465, QImage::Format_ARGB32_Premultiplied);
            timer.start();
            {
                QPainter painter(&screen);
                painter.drawImage(QPoint(0, 0), shown, QRect(0, shown.height() / 2, 761, 465));
            }
            result.insert(format == QImage::Format_RGB888 ? QStringLiteral("paint_us")
                                                          : name + QStringLiteral("_paint_us"),
                          timer.nsecsElapsed() / 1000);
            // The same part at "fit width" (the tool's picture view, smoothly scaled).
            const qreal zoom = 761.0 / shown.width();
            timer.start();
            {
                QPainter painter(&screen);
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawImage(QRectF(screen.rect()), shown,
                                  QRectF(0, shown.height() / 2, screen.width() / zoom, screen.height() / zoom));
            }
            result.insert(format == QImage::Format_RGB888 ? QStringLiteral("paint_fit_us")
                                                          : name + QStringLiteral("_paint_fit_us"),
                          timer.nsecsElapsed() / 1000);
        }
    }
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

QString mb(qint64 kb)
{
    return kb < 0 ? QStringLiteral("?") : QString::number(kb / 1024.0, 'f', 1);
}

int runParent(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QList<int> heights;
    for (int i = 1; i < argc; ++i)
        heights.append(QString::fromLocal8Bit(argv[i]).toInt());
    if (heights.isEmpty())
        heights = {2000, 8000, 16000, 32000};

    QTextStream out(stdout);
    out << "Captura de página inteira (JPEG qualidade 30), um processo por altura\n"
        << "QT_QPA_PLATFORM=" << qEnvironmentVariable("QT_QPA_PLATFORM")
        << "  QTWEBENGINE_CHROMIUM_FLAGS=" << qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS") << "\n\n";
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
               .arg(QStringLiteral("altura"), 7)
               .arg(QStringLiteral("largura"), 8)
               .arg(QStringLiteral("captura ms"), 11)
               .arg(QStringLiteral("codif. ms"), 10)
               .arg(QStringLiteral("RSS antes MB"), 13)
               .arg(QStringLiteral("pico MB"), 8)
               .arg(QStringLiteral("acréscimo MB"), 13)
               .arg(QStringLiteral("imagem MB"), 10)
               .arg(QStringLiteral("render. pico MB"), 16)
               .arg(QStringLiteral("JPEG KB"), 8);
    out.flush();

    int failures = 0;
    for (int height : heights) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(ChildOption), QString::number(height)});
        if (!child.waitForFinished(600000)) {
            out << QStringLiteral("%1  a medição não terminou em 10 min\n").arg(height, 7);
            child.kill();
            child.waitForFinished(10000);
            ++failures;
            continue;
        }
        QStringList fields;
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith(ResultTag))
                fields = QString::fromLatin1(line).split(QLatin1Char(' '));
        }
        if (child.exitCode() != 0 || fields.size() != 10) {
            out << QStringLiteral("%1  falhou (código %2)\n").arg(height, 7).arg(child.exitCode());
            ++failures;
            continue;
        }
        const qint64 rssBefore = fields[5].toLongLong();
        const qint64 hwmAfter = fields[7].toLongLong();
        const qint64 imageKb = fields[1].toLongLong() * fields[2].toLongLong() * 4 / 1024;
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10\n")
                   .arg(fields[2], 7)
                   .arg(fields[1], 8)
                   .arg(fields[3], 11)
                   .arg(fields[4], 10)
                   .arg(mb(rssBefore), 13)
                   .arg(mb(hwmAfter), 8)
                   .arg(mb(hwmAfter - rssBefore), 13)
                   .arg(mb(imageKb), 10)
                   .arg(mb(fields[8].toLongLong()), 16)
                   .arg(QString::number(fields[9].toLongLong() / 1024), 8);
        out.flush();
    }
    out << "\ncaptura: captureTo inteiro (medir, esperar o quadro, codificar, gravar);\n"
           "codif.: só a codificação JPEG da mesma imagem, em memória;\n"
           "acréscimo: pico do processo (VmHWM) menos o RSS logo antes da captura;\n"
           "imagem: a página em 32 bits (a parte da imagem da vista que a captura codifica, sem cópia);\n"
           "render. pico: o maior VmHWM entre os processos auxiliares do navegador.\n";
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    // The same engine set-up as the tests, unless the caller chose another.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    if (!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");

    // The tool's own set-up of its browser.
    BrowserSetup::prepareGraphics();
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", BrowserSetup::engineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));

    if (argc == 3 && qstrcmp(argv[1], ChildOption) == 0)
        return runChild(argc, argv, QByteArray(argv[2]).toInt());
    if (argc == 7 && qstrcmp(argv[1], "--url") == 0 && qstrcmp(argv[3], "--out") == 0
        && qstrcmp(argv[5], "--reps") == 0)
        return runUrl(argc, argv, QUrl(QString::fromLocal8Bit(argv[2])), QString::fromLocal8Bit(argv[4]),
                      qMax(0, QByteArray(argv[6]).toInt()));
    return runParent(argc, argv);
}
