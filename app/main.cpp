#include "app/AppLifetime.h"

int main(int argc, char* argv[])
{
    return AppLifetime::run(argc, argv);
}
