#include "devezozuvorapplication.h"

#include "browsersetup.h"
#include "errorreport.h"

DevezozuvorApplication::DevezozuvorApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

void DevezozuvorApplication::prepareGraphics()
{
    BrowserSetup::prepareGraphics();
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
