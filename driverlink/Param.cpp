#include "driverlink/Param.h"

#include "app/Product.h"

Param *Param::inst = nullptr;

namespace {

int desktopWidth = 0;
int desktopHeight = 0;

} // namespace

Param::Param(int desktopWidth, int desktopHeight, int initialThreshold)
    : threshold(initialThreshold),
      screenWidth(desktopWidth),
      screenHeight(desktopHeight),
      areaRight(desktopWidth),
      areaBottom(desktopHeight)
{
}

void Param::useDesktop(int width, int height)
{
    desktopWidth = width;
    desktopHeight = height;
}

Param *Param::getInst()
{
    if (!inst)
        inst = new Param(desktopWidth, desktopHeight, Product::active().threshold.initial);
    return inst;
}

void Param::setScreenEx(int rotation, int left, int top, int right, int bottom, int width, int height)
{
    switch (rotation) {
    case 0:
        screenWidth = width;
        screenHeight = height;
        areaLeft = left;
        areaRight = right;
        areaTop = top;
        areaBottom = bottom;
        break;
    case 1:
        screenWidth = height;
        screenHeight = width;
        areaLeft = top;
        areaRight = bottom;
        areaTop = width - right;
        areaBottom = width - left;
        break;
    case 2:
        screenWidth = width;
        screenHeight = height;
        areaLeft = width - right;
        areaRight = width - left;
        areaTop = height - bottom;
        areaBottom = height - top;
        break;
    case 3:
        screenWidth = height;
        screenHeight = width;
        areaLeft = height - bottom;
        areaRight = height - top;
        areaTop = left;
        areaBottom = right;
        break;
    default:
        break;
    }
}
