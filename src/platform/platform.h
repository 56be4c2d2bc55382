// The only door to the operating system. Everything above this header is
// portable; each backend (posix/, win32/) implements all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// An open file: a POSIX descriptor or a Win32 HANDLE. -1 is "not open" in
// both worlds (INVALID_HANDLE_VALUE is (HANDLE)-1).
struct File {
    std::intptr_t handle = -1;
    bool is_open() const { return handle != -1; }
};

// Process set-up before the first console write (POSIX: a closed pipe must
// not kill the process).
void init();

// The first argument after the program's own name, or nothing when there is
// none. Win32 splits GetCommandLineA itself; on POSIX the shell has already
// split the line, and an empty argv[1] counts as none.
std::optional<std::string> program_argument(int argc, char** argv);

// The running program's file name without its directory, for the report of
// an unhandled failure.
std::string program_file_name(int argc, char** argv);

// Steps over one character of the ANSI code page (two bytes for a lead
// byte of a double-byte code page). Never steps past the terminating NUL.
const char* next_char(const char* p);

// Bare names of the non-directory entries that the mask matches, in the
// order the system gives them (POSIX: byte order). Nothing matches, or the
// listing fails: an empty list. Memory exhaustion throws std::bad_alloc.
std::vector<std::string> list_files(const std::string& mask);

// Opens an existing regular file for reading, relative to the current
// directory. False when it cannot be opened (the caller writes the message).
bool open_input(const std::string& name, File& file);

// Creates (or truncates) the output file for writing. `input` is the file
// being converted: a name that designates it must fail rather than destroy
// it. False when the output cannot be created.
bool create_output(const std::string& name, File input, File& file);

// Reads up to `size` bytes; returns the count delivered. Fewer than asked
// means end of file or a read error.
std::size_t read_file(File file, void* buffer, std::size_t size);

// Writes all `size` bytes; false on any failure or short write.
bool write_file(File file, const void* buffer, std::size_t size);

// Bytes to be written, in place.
struct Piece {
    const void* data = nullptr;
    std::size_t size = 0;
};

enum class WriteStatus {
    ok,
    failed,             // the output refused bytes (full, too large, I/O error)
    source_unreadable,  // a piece could not be read: a mapped input shrank
};

// Writes the pieces one after another, all of them, with as few system
// calls as the system allows.
WriteStatus write_pieces(File file, const Piece* pieces, std::size_t count);

// Whether write_pieces writes several pieces with one call (POSIX writev).
// Where it cannot (Win32), small pieces are cheaper copied into one buffer.
bool gathers_writes();

// Part of a file mapped for reading, to be handed to write_pieces without a
// copy through user memory. The program itself must never read the bytes:
// if the file shrinks while it is mapped, touching a page past the new end
// kills the process, whereas a write from it only fails (source_unreadable).
struct FileView {
    Piece bytes;             // the requested range
    void* base = nullptr;    // the mapping, from a page boundary
    std::size_t length = 0;
};

// Maps `size` (> 0) bytes of `file` from `offset`. False when the file
// cannot be mapped (the caller reads it instead); Win32 never maps.
bool map_view(File file, std::uint64_t offset, std::size_t size, FileView& view);

// Unmaps the view (if mapped) and empties it.
void unmap_view(FileView& view);

// Moves the file position to `offset` bytes from the start.
bool seek_file(File file, std::uint64_t offset);

// The file's size in bytes, as the file system reports it.
bool file_size(File file, std::uint64_t& size);

// Closes the file (if open) and marks it closed.
void close_file(File& file);

// Removes a file by name; false when it could not be removed.
bool remove_file(const std::string& name);

// Standard output, as found at start-up.
enum class StdoutKind {
    none,      // no usable standard output: nothing is ever written
    console,   // a character device: text is pushed at once
    other,     // a file or a pipe: text leaves in whole buffers
};
StdoutKind stdout_kind();

// Writes to standard output; false when the write failed or was short.
bool write_stdout(const void* data, std::size_t size);

// The user's decimal separator for the summary line: the one byte of a
// one-byte separator, '.' for a longer one, 0 for an empty one.
char decimal_separator();

// Ends the process with the given status.
[[noreturn]] void exit_process(int status);

} // namespace platform

namespace platform {

// The separator rule, whatever the source of the text: one byte is used as
// it is, two or more bytes (a multi-byte character too) give '.', an empty
// text gives 0, which the fixed form leaves out.
char decimal_separator_rule(const char* text);

} // namespace platform
