#ifndef GRAPH_H
#define GRAPH_H

#include <QDialog>

// Placeholder until the signal window lands.
class Graph : public QDialog
{
    Q_OBJECT

public:
    Graph();
};

#endif // GRAPH_H
