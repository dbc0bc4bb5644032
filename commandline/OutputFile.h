#ifndef OUTPUTFILE_H
#define OUTPUTFILE_H

#include <string>

// Where a command-line program writes its result: standard output, or a file
// that is written under a temporary name beside it and renamed over it only
// once complete, so that a failed or cut run never damages what was there.
// Nothing is opened at the final name itself: it is only looked at
// (O_PATH with O_NOFOLLOW, O_NONBLOCK and O_NOCTTY, then fstat), and refused
// unless it is missing or a plain file of one name.
class OutputFile
{
public:
    // "-" or an empty name means standard output.
    explicit OutputFile(const std::string &name);
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    // Checks the name and makes the temporary file; false with error() set.
    bool open();
    // Writes all of text; false with error() set (EPIPE included).
    bool write(const std::string &text);
    // Syncs, closes and renames the temporary file over the name, then syncs
    // the folder (standard output: nothing to do); false with error() set,
    // the name untouched.
    bool commit();
    // After a commit whose rename failed: gives up the complete temporary
    // file, which stays, and returns its name; empty when there is none.
    std::string keep();
    // Removes the temporary file; the name keeps what it held.
    void discard();

    bool standardOutput() const { return toStandardOutput; }
    // The name for messages: the path, or "standard output".
    std::string label() const;
    int error() const { return lastError; }
    // Why the last step failed, in words: the errno text, or what the name is
    // when it is not a file that may be replaced.
    std::string reason() const;

    // Marks standard output as closed when the program started, so that
    // writing to it fails with EBADF instead of vanishing into /dev/null.
    static void setStandardOutputClosed(bool closed);

private:
    std::string name;
    std::string temporary;
    std::string folder;   // the name's folder with its slash, empty for the working folder
    bool toStandardOutput;
    int descriptor = -1;
    int lastError = 0;
    std::string refusal;   // what the name is, when it may not be replaced
};

#endif // OUTPUTFILE_H
