#ifndef DIAGNOSTICS_H
#define DIAGNOSTICS_H

#include <string>

class OutputFile;

// What a command-line program tells on standard error: its messages, each
// on a line of its own after the program's name, and the progress line a
// recording keeps rewriting on a terminal.
class Diagnostics
{
public:
    explicit Diagnostics(const char *name) : name(name) {}

    const char *program() const { return name; }
    void message(const std::string &text);
    // Rewrites the progress line in place (text starts with a carriage return).
    void progress(const std::string &text);
    // Ends a progress line still open, so that the shell's prompt starts afresh.
    void endProgress();

    // A file that cannot be opened for the result: status 1.
    int openFailure(OutputFile &out);
    // A write's or a commit's failure: a broken pipe ends the program as
    // SIGPIPE does, a stop request ends it cleanly, anything else is status 1.
    int outputFailure(OutputFile &out);

private:
    const char *name;
    bool progressShown = false;
};

#endif // DIAGNOSTICS_H
