#ifndef MAIN_H
#define MAIN_H

struct Product;

// The whole program for one product: single-instance guard, catalogue, main window.
// Always returns 0.
int controllerMain(int argc, char **argv, const Product &product);

#endif // MAIN_H
