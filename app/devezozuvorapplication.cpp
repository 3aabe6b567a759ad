#include "devezozuvorapplication.h"

#include "browsersetup.h"
#include "databasethread.h"
#include "errorreport.h"
#include "systemlocale.h"
#include "udevezozuvor.h"

#include <cstdio>
#include <cstdlib>

DevezozuvorApplication::DevezozuvorApplication(int &argc, char **argv) : QApplication(argc, argv) { }

void DevezozuvorApplication::prepareGraphics()
{
    BrowserSetup::prepareGraphics();
    // The engine reads its flags from the environment when it starts.
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", BrowserSetup::engineFlags(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS")));
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

int DevezozuvorApplication::run(int &argc, char **argv)
{
    // The window and the browser draw in software (the capture reads the
    // software frame), so the window system's OpenGL is not loaded: that alone
    // took some 40 ms of every start. An administrator may still choose one.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    prepareGraphics();
    DevezozuvorApplication app(argc, argv);
    installQtTranslations();
    bool stuck = false;
    {
        TfoDeveZozuvor foDeveZozuvor(QCoreApplication::arguments());
        foDeveZozuvor.show();
        app.exec();
        stuck = foDeveZozuvor.database()->anyStuck();
    }
    if (stuck) {
        // A database that stopped answering holds a thread that cannot be
        // joined; its unfinished work is rolled back by the engine.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
