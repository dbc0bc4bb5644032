#ifndef CONTROLTOOL_H
#define CONTROLTOOL_H

struct Product;

// The whole command-line program for one product: asks and sets the driver
// from a shell, with no desktop. Exit status 0 on success, 1 when the driver
// is absent, refuses or fails a transfer (or a file cannot be written), 2
// for usage errors.
int controlMain(int argc, char **argv, const Product &product);

#endif // CONTROLTOOL_H
