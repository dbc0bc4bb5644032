#ifndef SENSORMAP_H
#define SENSORMAP_H
#endif // SENSORMAP_H
