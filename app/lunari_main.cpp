#include "app/Product.h"
#include "app/main.h"

int main(int argc, char **argv)
{
    return controllerMain(argc, argv, Product::lunari);
}
