#include "signalviews/SensorMap.h"
