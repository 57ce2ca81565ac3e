#include "app/Startup.h"

int main(int argc, char* argv[])
{
    return tavrin::runApplication(argc, argv);
}
