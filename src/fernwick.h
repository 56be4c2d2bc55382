// The batch driver: command line, file list, the loop over it, and the
// console channel through which every console text goes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// Cuts a Windows command line into arguments: blanks and control bytes
// separate, double quotes group and are dropped, pairs of quotes at the
// start of an argument are skipped, and there is no escape character.
// Returns the arguments after the program's own name, up to the first
// empty one. `next` steps over one character of the code page.
std::vector<std::string> split_command_line(const char* line,
                                            const char* (*next)(const char*) = platform::next_char);

// Console output through a 128-byte buffer. A full buffer is written at
// once; a push writes what it holds only when standard output is a console,
// so a file or a pipe receives the same bytes in blocks of 128. A failed
// write drops the text and the run goes on.
class ConsoleChannel {
public:
    using Sink = bool (*)(const void* data, std::size_t size);

    explicit ConsoleChannel(platform::StdoutKind kind, Sink sink = platform::write_stdout)
        : kind_(kind), sink_(sink) {}

    // The text, CR LF, then a push.
    void line(std::string_view text);
    // The text without a line end, then a push.
    void partial(std::string_view text);
    // Writes whatever the buffer still holds, whatever standard output is.
    void flush();
    // Straight to standard output, past the buffer (the failure report).
    void write_direct(std::string_view text);

    static constexpr std::size_t capacity = 128;

private:
    void append(std::string_view text);
    void push();

    platform::StdoutKind kind_;
    Sink sink_;
    char buffer_[capacity];
    std::size_t used_ = 0;
};

// "[position/count] name " before a file's work begins.
std::string progress_prefix(int position, int count, const std::string& name);

// Appends the three-line report of a failure that ends the run; within the
// string's reserved capacity it allocates nothing.
void append_failure_report(std::string& out, std::string_view type, std::string_view module,
                           unsigned long address, std::string_view text);

// The whole run; returns the exit status.
int fernwick_main(int argc, char** argv);
