#include "devezozuvorapplication.h"
#include "udevezozuvor.h"

int main(int argc, char *argv[])
{
    DevezozuvorApplication::prepareGraphics();
    DevezozuvorApplication app(argc, argv);
    TfoDeveZozuvor foDeveZozuvor(QCoreApplication::arguments());
    foDeveZozuvor.show();
    app.exec();
    return 0;
}
