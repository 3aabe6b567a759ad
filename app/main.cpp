#include "browsersetup.h"
#include "devezozuvorapplication.h"

int main(int argc, char *argv[])
{
    BrowserSetup::useHugePages(argv);
    return DevezozuvorApplication::run(argc, argv);
}
