#include "app/app.h"

int main(int argc, char** argv)
{
    return qiv::runApplication(argc, argv);
}
