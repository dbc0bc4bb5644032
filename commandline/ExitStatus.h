#ifndef EXITSTATUS_H
#define EXITSTATUS_H

// The command-line programs' exit statuses: 0 on success, 1 when the driver
// is absent, refuses or fails (or a file cannot be written), 2 for usage errors.
namespace ExitStatus {
enum Status { Success = 0, Failed = 1, Usage = 2 };
}

#endif // EXITSTATUS_H
