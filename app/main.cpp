#include "browsersetup.h"
#include "devezozuvorapplication.h"
#include "databasethread.h"
#include "systemlocale.h"
#include "udevezozuvor.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char *argv[])
{
    DevezozuvorApplication::prepareGraphics();
    DevezozuvorApplication app(argc, argv);
    installQtTranslations();
    TfoDeveZozuvor foDeveZozuvor(QCoreApplication::arguments());
    foDeveZozuvor.show();
    app.exec();
    if (DatabaseThread::anyStuck()) {
        // A database that stopped answering holds a thread that cannot be
        // joined; its unfinished work is rolled back by the engine.
        std::fflush(nullptr);
        std::_Exit(0);
    }
    return 0;
}
