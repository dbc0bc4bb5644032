#ifndef MAIN_H
#define MAIN_H

struct Product;
class QTranslator;

// Loads "Controller.qm" from the working directory; false when there is none.
bool loadCatalogue(QTranslator &translator);

// The whole program for one product: single-instance guard, catalogue, main window.
// Always returns 0.
int controllerMain(int argc, char **argv, const Product &product);

#endif // MAIN_H
