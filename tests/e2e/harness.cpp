#include "e2e/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace e2e {

namespace {

std::vector<std::string> split_words(const char* text)
{
    std::vector<std::string> words;
    std::istringstream in(text ? text : "");
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string slurp_fd(int fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

} // namespace

RunResult run_fernwick(const std::string& dir, const std::vector<std::string>& args, Stdout mode,
                       const std::vector<std::string>& env, long long file_size_limit)
{
    const char* exe = std::getenv("FERNWICK_EXE");
    if (!exe)
        exe = FERNWICK_DEFAULT_EXE;
    std::vector<std::string> argv = split_words(std::getenv("FERNWICK_RUNNER"));
    argv.push_back(fs::absolute(exe).string());
    argv.insert(argv.end(), args.begin(), args.end());

    int out_pipe[2] = {-1, -1};
    std::string out_file;
    if (mode == Stdout::pipe || mode == Stdout::closed_pipe) {
        if (pipe(out_pipe) != 0)
            return {};
        if (mode == Stdout::closed_pipe) {
            close(out_pipe[0]);
            out_pipe[0] = -1;
        }
    } else if (mode == Stdout::file) {
        char name[] = "/tmp/fernwick-stdout-XXXXXX";
        close(mkstemp(name));
        out_file = name;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(126);
        if (mode == Stdout::pipe || mode == Stdout::closed_pipe) {
            dup2(out_pipe[1], STDOUT_FILENO);
        } else if (mode == Stdout::file) {
            const int fd = open(out_file.c_str(), O_WRONLY | O_TRUNC);
            dup2(fd, STDOUT_FILENO);
            close(fd);
        } else {
            close(STDOUT_FILENO);
        }
        if (out_pipe[0] >= 0)
            close(out_pipe[0]);
        if (out_pipe[1] >= 0 && out_pipe[1] != STDOUT_FILENO)
            close(out_pipe[1]);
        if (file_size_limit >= 0) {
            // An ignored SIGXFSZ stays ignored across exec: the write fails instead.
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(file_size_limit), static_cast<rlim_t>(file_size_limit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        // A known locale unless the test asks for another.
        putenv(const_cast<char*>("LC_ALL=C"));
        for (const std::string& e : env)
            putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> cargv;
        for (std::string& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        execv(cargv[0], cargv.data());
        _exit(127);
    }

    RunResult r;
    if (out_pipe[1] >= 0)
        close(out_pipe[1]);
    if (mode == Stdout::pipe) {
        r.output = slurp_fd(out_pipe[0]);
        close(out_pipe[0]);
    }
    int wstatus = 0;
    rusage usage{};
    while (wait4(pid, &wstatus, 0, &usage) < 0 && errno == EINTR) {
    }
    r.max_rss_kb = usage.ru_maxrss;
    if (WIFEXITED(wstatus))
        r.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        r.signal = WTERMSIG(wstatus);
    if (mode == Stdout::file) {
        std::ifstream in(out_file, std::ios::binary);
        r.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        unlink(out_file.c_str());
    }
    return r;
}

TempDir::TempDir()
{
    char name[] = "/tmp/fernwick-e2e-XXXXXX";
    if (mkdtemp(name))
        path_ = name;
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Read-only files and directories made by a test must not stop the clean-up.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(*this / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << name;
}

void TempDir::mkdir(const std::string& name) const
{
    fs::create_directories(*this / name);
}

bool TempDir::exists(const std::string& name) const
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(*this / name, ec));
}

std::string TempDir::read(const std::string& name) const
{
    std::ifstream in(*this / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> TempDir::names() const
{
    std::vector<std::string> result;
    for (const auto& e : fs::directory_iterator(path_))
        result.push_back(e.path().filename().string());
    std::sort(result.begin(), result.end());
    return result;
}

bool windows_target()
{
    const char* exe = std::getenv("FERNWICK_EXE");
    const std::string name = exe ? exe : "";
    return name.size() >= 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
}

bool wine_as_root()
{
    return windows_target() && geteuid() == 0;
}

const char* native_measurements_unavailable()
{
    if (std::getenv("FERNWICK_RUNNER"))
        return "the program runs behind a runner, not as a native process";
#ifdef FERNWICK_SANITIZE
    return "the sanitizer runtime comes first and holds most of the memory";
#else
    return nullptr;
#endif
}

std::string banner()
{
    return "Fernwick v1.0 by Orvel [fernwick@example.org]\r\n";
}

std::string lines(const std::vector<std::string>& text)
{
    std::string out;
    for (const std::string& line : text)
        out += line + "\r\n";
    return out;
}

} // namespace e2e
