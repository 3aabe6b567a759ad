#include "browsersetup.h"

#include <QByteArray>
#include <QFile>
#include <QQuickWindow>
#include <QSGRendererInterface>

#if defined(Q_OS_LINUX)
#include <unistd.h>
#endif

namespace BrowserSetup {

namespace {

constexpr char HugePagesTunable[] = "glibc.malloc.hugetlb=1";

// Appends words to a space-separated list, skipping those already there.
QByteArray withWords(QByteArray list, const QList<QByteArray> &words)
{
    const QList<QByteArray> present = list.simplified().split(' ');
    for (const QByteArray &word : words) {
        if (!present.contains(word))
            list += (list.isEmpty() ? "" : " ") + word;
    }
    return list;
}

} // namespace

void useHugePages(char **argv)
{
#if defined(Q_OS_LINUX)
    const QByteArray tunables = qgetenv("GLIBC_TUNABLES");
    if (tunables.contains("glibc.malloc.hugetlb"))
        return;
    QFile mode(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
    if (!mode.open(QIODevice::ReadOnly) || mode.readAll().contains("[never]"))
        return;
    // The C library reads its tunables only when a program starts.
    qputenv("GLIBC_TUNABLES", tunables.isEmpty() ? QByteArray(HugePagesTunable)
                                                 : tunables + ':' + HugePagesTunable);
    execv("/proc/self/exe", argv);
    qputenv("GLIBC_TUNABLES", tunables); // no restart: carry on as started
    if (tunables.isEmpty())
        qunsetenv("GLIBC_TUNABLES");
#else
    Q_UNUSED(argv);
#endif
}

void prepareGraphics()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Every frame the engine hands over is whole: drawn only once all of its
    // tiles are, never with parts missing or a resized view's old frame filling
    // in. Tiles 128 px wide waste at most 127 px of a page's width in raster
    // memory (256 px tiles hold a 1,100 px page as 1,280); 1,024 px tall, a
    // tall page needs a quarter as many of them, each a shared memory block
    // the engine creates and maps.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
            withWords(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                      {"--run-all-compositor-stages-before-draw", "--default-tile-width=128",
                       "--default-tile-height=1024"}));
}

} // namespace BrowserSetup
