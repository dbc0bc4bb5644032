#include "commandline/Diagnostics.h"

#include "commandline/ExitStatus.h"
#include "commandline/Formatted.h"
#include "commandline/OutputFile.h"
#include "commandline/StopSignal.h"

#include <cerrno>
#include <unistd.h>

namespace {

// Control bytes in a message (a file name's, say) are shown escaped, never
// sent raw to the terminal.
std::string printable(const std::string &text)
{
    std::string shown;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f)
            shown += formatted("\\x%02x", c);
        else
            shown += static_cast<char>(c);
    }
    return shown;
}

void toStandardError(const std::string &text)
{
    const ssize_t ignored = ::write(STDERR_FILENO, text.data(), text.size());
    (void)ignored;
}

} // namespace

void Diagnostics::message(const std::string &text)
{
    // A progress line still open on the terminal ends first.
    toStandardError(std::string(progressShown ? "\n" : "") + name + ": " + printable(text) + "\n");
    progressShown = false;
}

void Diagnostics::progress(const std::string &text)
{
    toStandardError(text);
    progressShown = true;
}

void Diagnostics::endProgress()
{
    if (!progressShown)
        return;
    toStandardError("\n");
    progressShown = false;
}

int Diagnostics::openFailure(OutputFile &out)
{
    message("cannot write " + out.label() + ": " + out.reason());
    return ExitStatus::Failed;
}

int Diagnostics::outputFailure(OutputFile &out)
{
    const int error = out.error();
    out.discard();
    if (error == EPIPE)
        StopSignal::endByBrokenPipe();
    if (error == EINTR && StopSignal::requested())
        return ExitStatus::Success;
    return openFailure(out);
}
