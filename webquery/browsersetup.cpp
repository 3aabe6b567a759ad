#include "browsersetup.h"

#include <QList>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace BrowserSetup {

namespace {

// A flag's name, without its value: "--a=1" and "--a=2" set the same flag.
QByteArray flagName(const QByteArray &flag)
{
    const qsizetype equals = flag.indexOf('=');
    return equals < 0 ? flag : flag.left(equals);
}

} // namespace

void prepareGraphics()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

QByteArray engineFlags(const QByteArray &current)
{
    // Every frame the engine hands over is whole: drawn only once all of its
    // tiles are, never with parts missing or a resized view's old frame filling
    // in. Tiles 128 px wide waste at most 127 px of a page's width in raster
    // memory (256 px tiles hold a 1,100 px page as 1,280); 1,024 px tall, a
    // tall page needs a quarter as many of them, each a shared memory block
    // the engine creates and maps.
    const QList<QByteArray> captureFlags{"--run-all-compositor-stages-before-draw", "--default-tile-width=128",
                                         "--default-tile-height=1024"};
    QByteArray flags = current.simplified();
    QList<QByteArray> given;
    for (const QByteArray &flag : flags.split(' '))
        given.append(flagName(flag));
    for (const QByteArray &flag : captureFlags) {
        if (!given.contains(flagName(flag)))
            flags += (flags.isEmpty() ? "" : " ") + flag;
    }
    return flags;
}

} // namespace BrowserSetup
