#include "signalviews/WaveGraph.h"
