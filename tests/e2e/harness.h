// Runs the built program in a fresh directory and collects what it wrote.
#pragma once

#include <string>
#include <vector>

namespace e2e {

// Where the program's standard output goes.
enum class Stdout {
    pipe,        // captured through a pipe
    file,        // redirected to a file, read back afterwards
    closed,      // descriptor 1 not open at all
    closed_pipe, // a pipe whose reading end is already closed
};

struct RunResult {
    int status = -1;     // exit status, when the process exited
    int signal = 0;      // the signal that ended it, or 0
    std::string output;  // everything written to standard output
    long max_rss_kb = 0; // peak resident memory of the program
};

// Runs the program (FERNWICK_EXE if set, behind FERNWICK_RUNNER if set) in `dir` with `args`.
// A `file_size_limit` of 0 or more caps the size of any file the program
// writes (RLIMIT_FSIZE, with SIGXFSZ ignored), to make writes fail.
RunResult run_fernwick(const std::string& dir, const std::vector<std::string>& args,
                       Stdout mode = Stdout::pipe, const std::vector<std::string>& env = {},
                       long long file_size_limit = -1);

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    void write(const std::string& name, const std::string& bytes) const;
    void mkdir(const std::string& name) const;
    bool exists(const std::string& name) const;
    std::string read(const std::string& name) const;
    // Names in the directory, sorted.
    std::vector<std::string> names() const;

private:
    std::string path_;
};

// Whether the program under test is the Windows build (run through a
// runner such as Wine): matching, names and file rules are the system's.
bool windows_target();

// Whether files are written with root's powers: a read-only file is then
// writable for a Windows program under Wine.
bool wine_as_root();

// Why a test that measures or preloads into the program cannot run here,
// or nullptr when it can: a Windows program under a runner, or a build with
// sanitizers (their runtime must come first and owns most of the memory).
const char* native_measurements_unavailable();

// The banner line the program starts with, CR LF included.
std::string banner();

// Lines joined with CR LF after each.
std::string lines(const std::vector<std::string>& text);

} // namespace e2e
