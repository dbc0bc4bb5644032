#ifndef DRIVERLOG_H
#define DRIVERLOG_H

#include <string>

class Param;

// The snapshot of the driver's two sensor matrices, written when the driver is found.
namespace DriverLog {

enum { Mask = 0xA7 };

// Queries both matrices and rewrites the log; the queries and the clearing of
// the code-66 cells happen even when the file cannot be written. True when
// both queries were answered.
bool record(Param *param, const char *fileName);
// The same into an open descriptor, or none (-1).
bool record(Param *param, int file);
// The same as text, for a caller that writes it and checks the writing itself;
// complete tells whether every answer had its full length.
bool text(Param *param, std::string &log, bool *complete = nullptr);

// Opens fileName for rewriting, refusing anything but a plain file with one
// name: the program may run as root in a directory others can write.
// Returns a descriptor, or -1 with errno set (ELOOP for a link, EMLINK for
// anything but a plain file of one name).
int openForRewrite(const char *fileName);

// Appends the 4-character fields of every cell of the layout, column by
// column, optionally clearing each cell once written.
void appendCells(std::string &line, unsigned char *matrix, int layoutX, int layoutY, bool clear);

// The logged value of a cell byte.
int cellValue(unsigned char cell);

} // namespace DriverLog

#endif // DRIVERLOG_H
