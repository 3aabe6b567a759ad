#include "devezozuvorapplication.h"

#include "errorreport.h"

#include <QQuickWindow>
#include <QSGRendererInterface>

DevezozuvorApplication::DevezozuvorApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

void DevezozuvorApplication::prepareGraphics()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

bool DevezozuvorApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ErrorReport::showCurrentException();
    }
    return false;
}
