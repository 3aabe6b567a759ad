#include "devezozuvorapplication.h"

#include "errorreport.h"

DevezozuvorApplication::DevezozuvorApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
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
