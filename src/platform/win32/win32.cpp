// Win32 backend: command line, listing, files, console and process.
// Only the ANSI (A) functions: names and console text stay in the ANSI code
// page, byte for byte.
#include "platform/platform.h"

#include <algorithm>
#include <cstring>

#include "platform/win32/win32_api.h"

#include "fernwick.h"

namespace platform {

namespace {

HANDLE g_stdout = NULL;
StdoutKind g_stdout_kind = StdoutKind::none;

HANDLE handle_of(File file) { return reinterpret_cast<HANDLE>(file.handle); }

// ReadFile and WriteFile take a DWORD count; larger transfers go in pieces.
constexpr std::size_t max_chunk = 0x80000000u;

DWORD chunk_of(std::size_t remaining)
{
    return static_cast<DWORD>(std::min(remaining, max_chunk));
}

// Closes the enumeration on every way out, an allocation failure included.
class FindHandle {
public:
    explicit FindHandle(HANDLE h) : h_(h) {}
    ~FindHandle() { FindClose(h_); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;

private:
    HANDLE h_;
};

} // namespace

void init()
{
    g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    if (g_stdout == NULL || g_stdout == INVALID_HANDLE_VALUE) {
        g_stdout_kind = StdoutKind::none;
        return;
    }
    switch (GetFileType(g_stdout)) {
    case FILE_TYPE_UNKNOWN:
        g_stdout_kind = StdoutKind::none;
        break;
    case FILE_TYPE_CHAR:
        g_stdout_kind = StdoutKind::console;
        break;
    default:
        g_stdout_kind = StdoutKind::other;
        break;
    }
}

std::optional<std::string> program_argument(int, char**)
{
    // The C runtime's argv follows other quoting rules; the line is split
    // here so that every build sees the same arguments.
    const std::vector<std::string> args = split_command_line(GetCommandLineA(), next_char);
    if (args.empty())
        return std::nullopt;
    return args.front();
}

std::string program_file_name(int, char**)
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(NULL, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return "fernwick.exe";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2); // truncated: try a larger buffer
    }

    // Step by characters: a trail byte of a double-byte character may
    // equal '\\'.
    const char* base = path.c_str();
    for (const char* p = base; *p; p = next_char(p)) {
        if (*p == '\\' || *p == '/')
            base = p + 1;
    }
    return base;
}

const char* next_char(const char* p)
{
    return *p ? CharNextA(p) : p;
}

std::vector<std::string> list_files(const std::string& mask)
{
    std::vector<std::string> names;

    WIN32_FIND_DATAA record;
    const HANDLE find = FindFirstFileA(mask.c_str(), &record);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    const FindHandle guard(find);

    do {
        // Directories, "." and ".." among them, are never converted.
        if (record.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const char* first = record.cFileName;
        const char* last = std::find(first, first + sizeof record.cFileName, '\0');
        names.emplace_back(first, last);
    } while (FindNextFileA(find, &record) != 0);

    // The system's order is kept: no sorting.
    return names;
}

bool open_input(const std::string& name, File& file)
{
    // Read sharing only: a file open for writing elsewhere is refused, and
    // the output cannot be created over this one while it is open.
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                 OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    file.handle = reinterpret_cast<std::intptr_t>(h);
    return true;
}

bool create_output(const std::string& name, File, File& file)
{
    // No check against the input: the input's share mode denies writing,
    // so creating an output over it fails here.
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    file.handle = reinterpret_cast<std::intptr_t>(h);
    return true;
}

std::size_t read_file(File file, void* buffer, std::size_t size)
{
    auto* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!ReadFile(handle_of(file), p + done, chunk_of(size - done), &n, NULL) || n == 0)
            break;
        done += n;
    }
    return done;
}

bool write_file(File file, const void* buffer, std::size_t size)
{
    auto* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!WriteFile(handle_of(file), p + done, chunk_of(size - done), &n, NULL) || n == 0)
            return false;
        done += n;
    }
    return true;
}

WriteStatus write_pieces(File file, const Piece* pieces, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        if (!write_file(file, pieces[i].data, pieces[i].size))
            return WriteStatus::failed;
    }
    return WriteStatus::ok;
}

bool gathers_writes()
{
    return false;
}

// Inputs are read through the copy buffer here.
bool map_view(File, std::uint64_t, std::size_t, FileView&)
{
    return false;
}

void unmap_view(FileView& view)
{
    view = FileView{};
}

bool seek_file(File file, std::uint64_t offset)
{
    LONG high = static_cast<LONG>(static_cast<DWORD>(offset >> 32));
    const LONG low = static_cast<LONG>(static_cast<DWORD>(offset));
    // A position whose low half is 0xFFFFFFFF is valid; only the error code
    // tells it from a failure.
    SetLastError(NO_ERROR);
    const DWORD result = SetFilePointer(handle_of(file), low, &high, FILE_BEGIN);
    return !(result == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

bool file_size(File file, std::uint64_t& size)
{
    DWORD high = 0;
    // As with the seek, a low half of 0xFFFFFFFF is a size, not a failure,
    // unless the error code says so.
    SetLastError(NO_ERROR);
    const DWORD low = GetFileSize(handle_of(file), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return false;
    size = (static_cast<std::uint64_t>(high) << 32) | low;
    return true;
}

void close_file(File& file)
{
    if (file.is_open())
        CloseHandle(handle_of(file));
    file.handle = -1;
}

bool remove_file(const std::string& name)
{
    return DeleteFileA(name.c_str()) != 0;
}

StdoutKind stdout_kind()
{
    return g_stdout_kind;
}

bool write_stdout(const void* data, std::size_t size)
{
    if (g_stdout == NULL || g_stdout == INVALID_HANDLE_VALUE)
        return false;
    return write_file(File{reinterpret_cast<std::intptr_t>(g_stdout)}, data, size);
}

void exit_process(int status)
{
    ExitProcess(static_cast<UINT>(status));
}

} // namespace platform
