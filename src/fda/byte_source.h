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
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}

    std::size_t read(void* buffer, std::size_t size) override;
    std::uint64_t remaining() const override { return size_ - pos_; }
    bool skip(std::uint64_t count) override;

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// An input file read from its start. Small reads (the headers) are served
// from a read-ahead buffer, so that a whole header costs one system call;
// large reads go straight into the caller's buffer. The size is taken once
// when the source is made; a file that shrinks later shows up as a short
// read.
class FileSource final : public ByteSource {
public:
    explicit FileSource(platform::File file);

    std::size_t read(void* buffer, std::size_t size) override;
    std::uint64_t remaining() const override { return size_ > pos_ ? size_ - pos_ : 0; }
    bool skip(std::uint64_t count) override;

    static constexpr std::size_t read_ahead = 64 * 1024;

private:
    platform::File file_;
    std::uint64_t size_ = 0;
    std::uint64_t pos_ = 0;          // logical position of the next byte
    std::unique_ptr<unsigned char[]> ahead_; // read_ahead bytes, not zeroed: only read bytes are used
    std::size_t ahead_at_ = 0;       // next unread byte in ahead_
    std::size_t ahead_end_ = 0;      // bytes held in ahead_
};
