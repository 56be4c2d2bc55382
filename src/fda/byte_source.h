// Forward-only byte sources for the reader and the payload copy: a file for
// the program, plain memory for tests and the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/platform.h"

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads up to `size` bytes; returns the count delivered. Fewer than
    // asked means the source ended (or failed) there.
    virtual std::size_t read(void* buffer, std::size_t size) = 0;

    // Bytes between the current position and the end, as known now.
    virtual std::uint64_t remaining() const = 0;

    // Passes over `count` bytes without reading them. The caller checks
    // `count` against remaining() first.
    virtual bool skip(std::uint64_t count) = 0;

    // Lends up to `size` of the next bytes in place and moves past them,
    // so that they can be written without a copy. Valid until the next call
    // on the source, and only for platform::write_pieces: the bytes may be
    // a file mapping that the program must not read. Empty when the source
    // cannot lend (or has nothing left): read() then.
    virtual platform::Piece lend(std::size_t size)
    {
        (void)size;
        return {};
    }

    // After the lent bytes were written: whether the source still holds all
    // of them. A mapped file cut short reads as zeros up to the end of its
    // last page, and such a write does not fail.
    virtual bool lent_intact() const { return true; }
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}

    std::size_t read(void* buffer, std::size_t size) override;
    std::uint64_t remaining() const override { return size_ - pos_; }
    bool skip(std::uint64_t count) override;
    platform::Piece lend(std::size_t size) override;

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// An input file read from its start. Small reads (the headers) are served
// from a read-ahead buffer, so that a whole header costs one system call;
// large reads go straight into the caller's buffer. Long runs are lent one
// window at a time as a mapping of the file, so that the kernel copies them
// to the output without a pass through user memory. The size is taken once
// when the source is made; a file that shrinks later shows up as a short
// read, or as a write from the mapping that fails.
class FileSource final : public ByteSource {
public:
    explicit FileSource(platform::File file);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::size_t read(void* buffer, std::size_t size) override;
    std::uint64_t remaining() const override { return size_ > pos_ ? size_ - pos_ : 0; }
    bool skip(std::uint64_t count) override;
    platform::Piece lend(std::size_t size) override;
    bool lent_intact() const override;

    static constexpr std::size_t read_ahead = 64 * 1024;
    // Measured: 2 MiB windows beat both smaller and larger ones, and the
    // mapped pages count towards resident memory until they are unmapped.
    static constexpr std::size_t lend_window = 2 * 1024 * 1024;

private:
    bool reposition();

    platform::File file_;
    platform::FileView view_;        // the last window lent, mapped until the next call
    bool can_map_ = true;            // false once mapping has failed
    bool file_pos_stale_ = false;    // a lent window moved pos_ but not the file position
    std::uint64_t mapped_end_ = 0;   // end of the furthest window lent, 0 for none
    std::uint64_t size_ = 0;
    std::uint64_t pos_ = 0;          // logical position of the next byte
    std::unique_ptr<unsigned char[]> ahead_; // read_ahead bytes, not zeroed: only read bytes are used
    std::size_t ahead_at_ = 0;       // next unread byte in ahead_
    std::size_t ahead_end_ = 0;      // bytes held in ahead_
};
