#ifndef WAVEGRAPH_H
#define WAVEGRAPH_H
#endif // WAVEGRAPH_H
