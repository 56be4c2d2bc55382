// POSIX backend: files, listing, console and process.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {

namespace {

StdoutKind g_stdout_kind = StdoutKind::none;

int fd_of(File file) { return static_cast<int>(file.handle); }

// '*' matches any run of bytes (dots and a leading dot included), '?' one
// byte; everything else, '[' included, matches only itself.
bool mask_matches(const char* mask, const char* name)
{
    const char* star = nullptr;   // last '*' seen in the mask
    const char* resume = nullptr; // where its match may grow from
    while (*name) {
        if (*mask == '*') {
            star = mask++;
            resume = name;
        } else if (*mask == '?' || *mask == *name) {
            ++mask;
            ++name;
        } else if (star) {
            mask = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*mask == '*')
        ++mask;
    return *mask == '\0';
}

} // namespace

void init()
{
    // A closed pipe on standard output must cost the text, not the run.
    std::signal(SIGPIPE, SIG_IGN);

    struct stat st;
    if (fstat(STDOUT_FILENO, &st) != 0)
        g_stdout_kind = StdoutKind::none;
    else if (S_ISCHR(st.st_mode))
        g_stdout_kind = StdoutKind::console;
    else
        g_stdout_kind = StdoutKind::other;
}

std::optional<std::string> program_argument(int argc, char** argv)
{
    if (argc < 2 || argv[1] == nullptr || argv[1][0] == '\0')
        return std::nullopt;
    return std::string(argv[1]);
}

std::string program_file_name(int argc, char** argv)
{
    if (argc < 1 || argv[0] == nullptr || argv[0][0] == '\0')
        return "fernwick";
    const char* slash = std::strrchr(argv[0], '/');
    return slash ? slash + 1 : argv[0];
}

const char* next_char(const char* p)
{
    return *p ? p + 1 : p;
}

std::vector<std::string> list_files(const std::string& mask)
{
    std::vector<std::string> names;

    // The part up to the last '/' names the directory; the rest is matched.
    std::string dir = ".";
    std::string pattern = mask;
    const std::size_t slash = mask.rfind('/');
    if (slash != std::string::npos) {
        dir = slash == 0 ? "/" : mask.substr(0, slash);
        pattern = mask.substr(slash + 1);
    }

    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    const int dir_fd = dirfd(d);
    while (const dirent* e = readdir(d)) {
        if (!mask_matches(pattern.c_str(), e->d_name))
            continue;
        // Directories are passed over, also behind a symbolic link; a
        // dangling link stays in the list and fails to open later.
        bool is_dir = false;
        if (e->d_type == DT_DIR) {
            is_dir = true;
        } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st;
            is_dir = fstatat(dir_fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!is_dir)
            names.emplace_back(e->d_name);
    }
    closedir(d);

    // Byte order, so that runs are reproducible.
    std::sort(names.begin(), names.end());
    return names;
}

bool open_input(const std::string& name, File& file)
{
    // O_NONBLOCK: a FIFO in the list must not hang the run; it is refused
    // below like any other file that is not a regular one. On a regular
    // file the flag changes nothing, so it stays.
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    file.handle = fd;
    return true;
}

bool create_output(const std::string& name, File input, File& file)
{
    struct stat existing;
    if (stat(name.c_str(), &existing) == 0) {
        // No share modes here: refuse a name that leads to the open input
        // (same name, hard or symbolic link, case-insensitive file system).
        struct stat in;
        if (input.is_open() && fstat(fd_of(input), &in) == 0 &&
            in.st_dev == existing.st_dev && in.st_ino == existing.st_ino)
            return false;
        // A read-only output is not replaced, not even by root.
        if (!(existing.st_mode & S_IWUSR))
            return false;
    }
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    file.handle = fd;
    return true;
}

std::size_t read_file(File file, void* buffer, std::size_t size)
{
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd_of(file), p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool write_file(File file, const void* buffer, std::size_t size)
{
    auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd_of(file), p + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

WriteStatus write_pieces(File file, const Piece* pieces, std::size_t count)
{
    // One writev per call, moving on through the list after a short write.
    constexpr std::size_t max_iov = 8;
    iovec iov[max_iov];
    std::size_t first = 0;    // next piece with bytes left
    std::size_t skipped = 0;  // bytes of pieces[first] already written
    while (first < count) {
        std::size_t n_iov = 0;
        for (std::size_t i = first; i < count && n_iov < max_iov; ++i) {
            const std::size_t offset = i == first ? skipped : 0;
            if (pieces[i].size == offset)
                continue;
            iov[n_iov].iov_base = const_cast<char*>(static_cast<const char*>(pieces[i].data) + offset);
            iov[n_iov].iov_len = pieces[i].size - offset;
            ++n_iov;
        }
        if (n_iov == 0)
            break;
        const ssize_t n = writev(fd_of(file), iov, static_cast<int>(n_iov));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EFAULT)
            return WriteStatus::source_unreadable;
        if (n <= 0)
            return WriteStatus::failed;
        auto done = static_cast<std::size_t>(n);
        while (first < count && done >= pieces[first].size - skipped) {
            done -= pieces[first].size - skipped;
            skipped = 0;
            ++first;
        }
        skipped += done;
    }
    return WriteStatus::ok;
}

bool gathers_writes()
{
    return true;
}

bool map_view(File file, std::uint64_t offset, std::size_t size, FileView& view)
{
    static const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t base = offset - offset % page;
    const auto lead = static_cast<std::size_t>(offset - base);
    if (size == 0 || size > std::numeric_limits<std::size_t>::max() - lead ||
        base > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return false;
    // Populating the whole window at once is far cheaper than the kernel
    // faulting in page by page while it copies from it; past the end of a
    // cut file it just stops.
#ifdef MAP_POPULATE
    constexpr int populate = MAP_POPULATE;
#else
    constexpr int populate = 0;
#endif
    void* p = mmap(nullptr, lead + size, PROT_READ, MAP_SHARED | populate, fd_of(file),
                   static_cast<off_t>(base));
    if (p == MAP_FAILED)
        return false;
    view.base = p;
    view.length = lead + size;
    view.bytes = {static_cast<const char*>(p) + lead, size};
    return true;
}

void unmap_view(FileView& view)
{
    if (view.base != nullptr)
        munmap(view.base, view.length);
    view = FileView{};
}

bool seek_file(File file, std::uint64_t offset)
{
    return lseek(fd_of(file), static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
}

bool file_size(File file, std::uint64_t& size)
{
    struct stat st;
    if (fstat(fd_of(file), &st) != 0)
        return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

void close_file(File& file)
{
    if (file.is_open())
        close(fd_of(file)); // not retried on EINTR: the descriptor is gone either way
    file.handle = -1;
}

bool remove_file(const std::string& name)
{
    return unlink(name.c_str()) == 0;
}

StdoutKind stdout_kind()
{
    return g_stdout_kind;
}

bool write_stdout(const void* data, std::size_t size)
{
    return write_file(File{STDOUT_FILENO}, data, size);
}

void exit_process(int status)
{
    std::exit(status);
}

} // namespace platform
