// Fernwick: converts FDA streams in "Relic Chunky" files into AIFF-C files.
#include "fernwick.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "aifc/aifc.h"
#include "fda/fda.h"
#include "summary.h"

namespace {

constexpr const char* banner = "Fernwick v1.0 by Orvel [fernwick@example.org]";
constexpr const char* usage = "Usage: fernwick.exe [filename.fda or filemask]";

bool is_blank_or_control(unsigned char c) { return c >= 0x01 && c <= 0x20; }

// One entry of the list: prefix, open, read, summary, convert, and the
// line's end. Each failure is the whole rest of the line; the input is
// closed after its message.
void convert_entry(ConsoleChannel& console, const std::string& entry, int position, int count,
                   char separator)
{
    // POSIX names may hold '\' or ':', which Windows names never do, so the
    // entry itself is the display name.
    console.partial(progress_prefix(position + 1, count, entry));

    platform::File input;
    if (!platform::open_input(entry, input)) {
        console.line("Error open file.");
        return;
    }

    FileSource source(input);
    FdaStream stream;
    if (FdaReadError e = read_fda_stream(source, stream); e != FdaReadError::none) {
        console.line(fda_read_error_message(e));
        platform::close_file(input);
        return;
    }

    console.partial(format_stream_summary(stream.info, separator));

    // A stream that cannot be written is refused before any file exists.
    const std::string output_name = aifc_output_name(entry);
    platform::File output;
    AifcWriteError e = check_aifc_stream(stream);
    if (e == AifcWriteError::none)
        e = create_aifc_output(output_name, input, output);
    if (e != AifcWriteError::none) {
        console.line(aifc_write_error_message(e));
        platform::close_file(input);
        return;
    }

    e = write_aifc(output, stream);
    if (e != AifcWriteError::none) {
        // No incomplete file is left to pass for a converted one.
        console.line(aifc_write_error_message(e));
        platform::close_file(input);
        platform::close_file(output);
        platform::remove_file(output_name);
        return;
    }

    platform::close_file(input);
    platform::close_file(output);
    console.line("done");
}

int run(ConsoleChannel& console, int argc, char** argv)
{
    // Fixed once for the whole run.
    const char separator = platform::decimal_separator();

    console.line(banner);

    const std::optional<std::string> argument = platform::program_argument(argc, argv);
    if (!argument) {
        console.line(usage);
        return 0;
    }

    // The list is taken whole before the first file: outputs created during
    // the run are not converted in it.
    const std::vector<std::string> files = platform::list_files(*argument);
    const int count = static_cast<int>(files.size());
    console.line("Find " + std::to_string(count) + " files");

    for (int i = 0; i < count; ++i)
        convert_entry(console, files[static_cast<std::size_t>(i)], i, count, separator);
    return 0;
}

} // namespace

std::vector<std::string> split_command_line(const char* line, const char* (*next)(const char*))
{
    std::vector<std::string> args;
    const char* p = line;
    bool program_name = true;

    for (;;) {
        // Blanks, control bytes and pairs of double quotes before an argument.
        for (;;) {
            if (is_blank_or_control(static_cast<unsigned char>(*p)))
                p = next(p);
            else if (p[0] == '"' && p[1] == '"')
                p += 2;
            else
                break;
        }

        std::string arg;
        for (;;) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (c == '"') {
                // A quoted stretch runs to the next quote or the line's end.
                p = next(p);
                while (*p != '\0' && *p != '"') {
                    const char* q = next(p);
                    arg.append(p, static_cast<std::size_t>(q - p));
                    p = q;
                }
                if (*p == '"')
                    p = next(p);
            } else if (c > 0x20) {
                const char* q = next(p);
                arg.append(p, static_cast<std::size_t>(q - p));
                p = q;
            } else {
                break;
            }
        }

        if (program_name) {
            program_name = false;
        } else {
            if (arg.empty())
                break;
            args.push_back(std::move(arg));
        }
    }
    return args;
}

void ConsoleChannel::append(std::string_view text)
{
    while (!text.empty()) {
        const std::size_t n = std::min(capacity - used_, text.size());
        std::memcpy(buffer_ + used_, text.data(), n);
        used_ += n;
        text.remove_prefix(n);
        if (used_ == capacity)
            flush();
    }
}

void ConsoleChannel::flush()
{
    // Without a usable standard output nothing is ever written.
    if (used_ != 0 && kind_ != platform::StdoutKind::none)
        sink_(buffer_, used_); // a failed write drops the text; the run goes on
    used_ = 0;
}

void ConsoleChannel::push()
{
    if (kind_ == platform::StdoutKind::console)
        flush();
}

void ConsoleChannel::line(std::string_view text)
{
    append(text);
    append("\r\n");
    push();
}

void ConsoleChannel::partial(std::string_view text)
{
    append(text);
    push();
}

void ConsoleChannel::write_direct(std::string_view text)
{
    if (kind_ != platform::StdoutKind::none)
        sink_(text.data(), text.size());
}

std::string progress_prefix(int position, int count, const std::string& name)
{
    return "[" + std::to_string(position) + "/" + std::to_string(count) + "] " + name + " ";
}

void append_failure_report(std::string& out, std::string_view type, std::string_view module,
                           unsigned long address, std::string_view text)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX", address & 0xFFFFFFFFul);

    out.append("Exception ").append(type).append(" in module ").append(module);
    out.append(" at ").append(hex).append(".\r\n");
    out.append(text);
    if (!text.empty() && text.back() != '.')
        out.append(".");
    out.append("\r\n\r\n");
}

int fernwick_main(int argc, char** argv)
{
    platform::init();
    ConsoleChannel console(platform::stdout_kind());

    // Room for the report of an unhandled failure, taken while memory is
    // still there: the report must not need what has just run out.
    const std::string module = platform::program_file_name(argc, argv);
    std::string report;
    report.reserve(512 + module.size());

    // A failure that no step handles ends the run: the buffered text, then
    // the report right after it, then status 1. Portable C++ knows no code
    // address for it, so the report shows zero there.
    try {
        const int status = run(console, argc, argv);
        console.flush();
        return status;
    } catch (const std::bad_alloc&) {
        append_failure_report(report, "std::bad_alloc", module, 0, "Out of memory");
    } catch (const std::exception& e) {
        append_failure_report(report, "std::exception", module, 0, e.what());
    }
    console.flush();
    console.write_direct(report);
    return 1;
}
