#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "app/Product.h"

class Param;

namespace TestSupport {

// Makes the process run as the given product on a desktop of the given size:
// selects it, closes the driver channel, rebuilds the parameter record in
// place (windows keep their pointer) and resets the simulated controller.
Param *useProduct(const Product &product, int desktopWidth = 1024, int desktopHeight = 768);

// Both products, for data-driven rows.
const Product &productByName(const char *programName);

} // namespace TestSupport

#endif // TESTSUPPORT_H
