#include "devezozuvorapplication.h"
#include "systemlocale.h"
#include "udevezozuvor.h"

int main(int argc, char *argv[])
{
    DevezozuvorApplication::prepareGraphics();
    DevezozuvorApplication app(argc, argv);
    installQtTranslations();
    TfoDeveZozuvor foDeveZozuvor(QCoreApplication::arguments());
    foDeveZozuvor.show();
    app.exec();
    return 0;
}
