#include "app/Product.h"
#include "commandline/ControlTool.h"

int main(int argc, char **argv)
{
    return controlMain(argc, argv, Product::lunari);
}
