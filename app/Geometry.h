#ifndef GEOMETRY_H
#define GEOMETRY_H

#include "app/Product.h"

#include <QRect>
#include <QSize>

// The product descriptions' boxes as Qt takes them.
inline QRect toRect(const Box &box)
{
    return QRect(box.x, box.y, box.width, box.height);
}

inline QSize toSize(const Extent &extent)
{
    return QSize(extent.width, extent.height);
}

#endif // GEOMETRY_H
