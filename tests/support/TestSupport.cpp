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

DriverSim::Family familyOf(const Product &product)
{
    return &product == &Product::lunari ? DriverSim::Family::Lunari : DriverSim::Family::Pravex;
}

DriverSim::Controller &simulated()
{
    return DriverSim::controller(familyOf(Product::active()));
}

std::vector<DriverSim::Exchange> exchanges(DriverSim::Exchange::Kind kind, int code)
{
    std::vector<DriverSim::Exchange> found;
    const DriverSim::Family family = familyOf(Product::active());
    for (const DriverSim::Exchange &exchange : DriverSim::transcript()) {
        if (exchange.family == family && exchange.kind == kind && exchange.code == code)
            found.push_back(exchange);
    }
    return found;
}

} // namespace TestSupport
