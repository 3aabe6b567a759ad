// bench_capture [altura ...]: a table of capture time, encode time and peaks per page height, one process each.
// bench_capture --url URL --out FILE --reps N: URL captured N+1 times as the tool does; one JSON line last.
#include "apperror.h"
#include "benchsupport.h"
#include "jpegcodec.h"
#include "reportsettle.h"
#include "samplesite.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <cstdio>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

const char ChildOption[] = "--filho";
const QString Self = u"self"_s;

// The engine's helper processes, every level below this one.
QStringList helpers(const QString &pid = QString::number(QCoreApplication::applicationPid()))
{
    QStringList out;
    const QDir tasks(u"/proc/%1/task"_s.arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        for (const QByteArray &child : Bench::readAll(tasks.filePath(task + u"/children"_s)).simplified().split(' ')) {
            if (!child.isEmpty())
                out << QString::fromLatin1(child) << helpers(QString::fromLatin1(child));
        }
    }
    return out;
}

// Milliseconds to encode the picture, read back in the grab's 32-bit format, the way the capture encodes it.
qint64 encodeMs(const QByteArray &jpeg)
{
    const QImage image = Jpeg::decode(jpeg).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QElapsedTimer timer;
    timer.start();
    Jpeg::encode(image, 30, &buffer);
    return timer.elapsed();
}

// What stays resident once the capture has returned and the engine has let go of the page: the process's and
// its helpers' memory in kB, polled until it has not fallen for 300 ms (at most 3 s), and when it last fell.
std::pair<std::pair<qint64, qint64>, qint64> settledMemory()
{
    const auto treeKb = [] {
        qint64 kb = 0;
        for (const QString &pid : helpers())
            kb += qMax<qint64>(0, Bench::statusKb(pid, "VmRSS"));
        return std::pair(Bench::statusKb(Self, "VmRSS"), kb);
    };
    auto after = treeKb();
    qint64 releasedMs = 0;
    QElapsedTimer timer;
    timer.start();
    for (QElapsedTimer steady; timer.elapsed() < 3000 && (!steady.isValid() || steady.elapsed() < 300);) {
        if (!steady.isValid())
            steady.start();
        QTest::qWait(10);
        const auto now = treeKb();
        if (now.first + now.second < after.first + after.second - 1024) {
            releasedMs = timer.elapsed();
            steady.restart();
        }
        after = std::pair(qMin(after.first, now.first), qMin(after.second, now.second));
    }
    return {after, releasedMs};
}

// The archive tab: decode the record once, then paint the part its scroll box shows, at 100 % and at "fit width"
// (smoothly scaled); in 24-bit rows and in the 32-bit rows a screen takes as they are.
void measureShowing(const QByteArray &written, QJsonObject *result)
{
    for (const auto &[format, name] :
         {std::pair(QImage::Format_RGB888, u"decode"_s), std::pair(QImage::Format_RGB32, u"decode32"_s)}) {
        const qint64 rssShown = Bench::statusKb(Self, "VmRSS");
        QElapsedTimer timer;
        timer.start();
        const QImage shown = Jpeg::decode(written, format);
        result->insert(name + u"_ms"_s, timer.elapsed());
        result->insert(name + u"_image_mb"_s, qRound(shown.sizeInBytes() / 1048576.0));
        result->insert(name + u"_rss_growth_mb"_s, qRound((Bench::statusKb(Self, "VmRSS") - rssShown) / 1024.0));
        const QString paint = format == QImage::Format_RGB888 ? u"paint"_s : name + u"_paint"_s;
        QImage screen(761, 465, QImage::Format_ARGB32_Premultiplied);
        const qreal zoom = 761.0 / shown.width();
        for (const bool fit : {false, true}) {
            timer.start();
            QPainter painter(&screen);
            painter.setRenderHint(QPainter::SmoothPixmapTransform, fit);
            if (fit)
                painter.drawImage(QRectF(screen.rect()), shown, QRectF(0, shown.height() / 2, 761 / zoom, 465 / zoom));
            else
                painter.drawImage(QPoint(0, 0), shown, QRect(0, shown.height() / 2, 761, 465));
            painter.end();
            result->insert(paint + (fit ? u"_fit_us"_s : u"_us"_s), timer.nsecsElapsed() / 1000);
        }
    }
}

// Captures url reps+1 times into file, after an untimed wait as the tool's (what the page fills, shows or loads after
// its load); the last line printed is one JSON object. The table's child (height > 0) captures the sample site's
// page of that height once and adds its peaks, in kB.
int runUrl(int argc, char **argv, QUrl url, QString file, int reps, int height = 0)
{
    QApplication app(argc, argv);
    SampleSite site;
    QTemporaryDir dir;
    if (height > 0 && site.listen()) {
        url = site.url(u"/pagina?altura=%1"_s.arg(height));
        file = dir.filePath(u"captura"_s);
    }
    QWidget tab;
    QWebEngineView *view = Bench::placeView(&tab);
    ReportSettle::prepare(view->page());
    if (!Bench::load(view, url)) {
        std::fprintf(stderr, "a página %s não carregou\n", qPrintable(url.toString()));
        return 1;
    }
    QList<qint64> times;
    qint64 rssBefore = 0;
    try {
        ReportSettle::wait(view->page(), QDeadlineTimer(ReportSettle::LimitMs), nullptr);
        rssBefore = Bench::statusKb(Self, "VmRSS");
        for (QElapsedTimer timer; times.size() <= reps; times.append(timer.elapsed())) {
            timer.start();
            PageCapture(view).captureTo(file);
        }
    } catch (const AppError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    const qint64 firstMs = times.takeFirst();
    std::sort(times.begin(), times.end());
    const auto [after, releasedMs] = settledMemory();
    QByteArray written = Bench::readAll(file);
    QBuffer header(&written); // the size by Qt's reader: a decode here would add to the peak being measured
    header.open(QIODevice::ReadOnly);
    const QSize size = QImageReader(&header, "jpeg").size();
    QJsonObject result{{u"width"_s, size.width()},
                       {u"height"_s, size.height()},
                       {u"first_ms"_s, firstMs},
                       {u"median_ms"_s, times.isEmpty() ? firstMs : times.at(times.size() / 2)},
                       {u"bytes"_s, written.size()},
                       {u"rss_before_mb"_s, qRound(rssBefore / 1024.0)},
                       {u"rss_after_mb"_s, qRound(after.first / 1024.0)},
                       {u"helpers_rss_after_mb"_s, qRound(after.second / 1024.0)},
                       {u"released_ms"_s, releasedMs}};
    if (height > 0) { // peaks, before a decode here could raise this process's
        qint64 helperPeak = -1;
        for (const QString &pid : helpers())
            helperPeak = qMax(helperPeak, Bench::statusKb(pid, "VmHWM"));
        result.insert(u"rss_before_kb"_s, rssBefore);
        result.insert(u"peak_kb"_s, Bench::statusKb(Self, "VmHWM"));
        result.insert(u"helpers_peak_kb"_s, helperPeak);
    }
    if (reps > 0 || height > 0) // not where it would disturb a memory measurement (--reps 0)
        result.insert(u"encode_ms"_s, encodeMs(written));
    if (reps > 0)
        measureShowing(written, &result);
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    return 0;
}

// One line of the table: each field right-aligned to its column's width.
QString tableLine(const QStringList &fields)
{
    static const int widths[] = {7, 8, 11, 10, 13, 8, 13, 10, 16, 8};
    QString line;
    for (qsizetype i = 0; i < fields.size(); ++i)
        line += (i ? u" "_s : QString()) + fields[i].rightJustified(widths[i]);
    return line + u'\n';
}

int runParent(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QList<int> heights = Bench::heights(app.arguments().mid(1), {2000, 8000, 16000, 32000});
    const auto mb = [](qint64 kb) { return kb < 0 ? u"?"_s : QString::number(kb / 1024.0, 'f', 1); };
    QTextStream out(stdout);
    out << "Captura de página inteira (JPEG qualidade 30), um processo por altura\n"
        << "QT_QPA_PLATFORM=" << qEnvironmentVariable("QT_QPA_PLATFORM")
        << "  QTWEBENGINE_CHROMIUM_FLAGS=" << qEnvironmentVariable("QTWEBENGINE_CHROMIUM_FLAGS") << "\n\n"
        << tableLine({u"altura"_s, u"largura"_s, u"captura ms"_s, u"codif. ms"_s, u"RSS antes MB"_s, u"pico MB"_s,
                      u"acréscimo MB"_s, u"imagem MB"_s, u"render. pico MB"_s, u"JPEG KB"_s})
        << Qt::flush;
    int failures = 0;
    for (int height : heights) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QString::fromLatin1(ChildOption), QString::number(height)});
        if (!child.waitForFinished(600000)) {
            out << u"%1  a medição não terminou em 10 min\n"_s.arg(height, 7);
            child.kill();
            child.waitForFinished(10000);
            ++failures;
            continue;
        }
        const QJsonObject r
            = QJsonDocument::fromJson(child.readAllStandardOutput().trimmed().split('\n').last()).object();
        const auto f = [&r](const char *key) { return qint64(r.value(QLatin1StringView(key)).toDouble(-1)); };
        if (child.exitCode() != 0 || !r.contains(u"peak_kb"_s)) {
            out << u"%1  falhou (código %2)\n"_s.arg(height, 7).arg(child.exitCode());
            ++failures;
            continue;
        }
        out << tableLine({QString::number(f("height")), QString::number(f("width")), QString::number(f("first_ms")),
                          QString::number(f("encode_ms")), mb(f("rss_before_kb")), mb(f("peak_kb")),
                          mb(f("peak_kb") - f("rss_before_kb")), mb(f("width") * f("height") * 4 / 1024),
                          mb(f("helpers_peak_kb")), QString::number(f("bytes") / 1024)})
            << Qt::flush;
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
    Bench::prepareEngine();
    if (argc == 3 && qstrcmp(argv[1], ChildOption) == 0)
        return runUrl(argc, argv, QUrl(), QString(), 0, QByteArray(argv[2]).toInt());
    if (argc == 7 && qstrcmp(argv[1], "--url") == 0 && qstrcmp(argv[3], "--out") == 0
        && qstrcmp(argv[5], "--reps") == 0)
        return runUrl(argc, argv, QUrl(QString::fromLocal8Bit(argv[2])), QString::fromLocal8Bit(argv[4]),
                      qMax(0, QByteArray(argv[6]).toInt()));
    return runParent(argc, argv);
}
