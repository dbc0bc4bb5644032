#include "tests/support/TestSupport.h"

#include "driverlink/KerDriverFunc.h"
#include "driverlink/Param.h"
#include "driversim/DriverSim.h"

#include <cstring>
#include <unistd.h>

namespace TestSupport {

Param *useProduct(const Product &product, int desktopWidth, int desktopHeight)
{
    Product::select(product);
    if (fd != 0) {
        ::close(fd);
        fd = 0;
    }
    Param *param = Param::getInst();
    *param = Param(desktopWidth, desktopHeight, product.initialThreshold);
    DriverSim::reset();
    return param;
}

const Product &productByName(const char *programName)
{
    return std::strcmp(programName, Product::lunari.programName) == 0 ? Product::lunari : Product::pravex;
}

} // namespace TestSupport
