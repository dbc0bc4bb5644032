#ifndef FORMATTED_H
#define FORMATTED_H

#include <string>

// printf-style text as a string, cut at 511 bytes: every line the
// command-line programs build is far shorter.
std::string formatted(const char *pattern, ...) __attribute__((format(printf, 1, 2)));

#endif // FORMATTED_H
