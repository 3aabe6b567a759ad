#include "browsersetup.h"

#include <QByteArray>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace BrowserSetup {

namespace {

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

void prepareGraphics()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Every frame the engine hands over is whole: drawn only once all of its
    // tiles are, never with parts missing or a resized view's old frame filling
    // in. Tiles 128 px wide waste at most 127 px of a page's width in raster
    // memory (256 px tiles hold a 1,100 px page as 1,280); 1,024 px tall, a
    // tall page needs a quarter as many of them, each a shared memory block
    // the engine creates and maps.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", withWords(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"),
                                                    {"--run-all-compositor-stages-before-draw",
                                                     "--default-tile-width=128", "--default-tile-height=1024"}));
}

} // namespace BrowserSetup
