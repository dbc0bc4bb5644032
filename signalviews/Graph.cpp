#include "signalviews/Graph.h"

Graph::Graph()
    : QDialog(nullptr)
{
}
