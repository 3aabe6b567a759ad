#include "devezozuvorapplication.h"

int main(int argc, char *argv[])
{
    return DevezozuvorApplication::run(argc, argv);
}
