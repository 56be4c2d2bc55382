#include "fda/byte_source.h"

#include <algorithm>
#include <cstring>

std::size_t MemorySource::read(void* buffer, std::size_t size)
{
    const std::size_t n = size < size_ - pos_ ? size : size_ - pos_;
    if (n)
        std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
}

bool MemorySource::skip(std::uint64_t count)
{
    if (count > size_ - pos_)
        return false;
    pos_ += static_cast<std::size_t>(count);
    return true;
}

platform::Piece MemorySource::lend(std::size_t size)
{
    const std::size_t n = size < size_ - pos_ ? size : size_ - pos_;
    const platform::Piece piece{data_ + pos_, n};
    pos_ += n;
    return piece;
}

FileSource::FileSource(platform::File file)
    : file_(file), ahead_(new unsigned char[read_ahead])
{
    if (!platform::file_size(file_, size_))
        size_ = 0;
}

FileSource::~FileSource()
{
    platform::unmap_view(view_);
}

// After a lent window the file position lags behind pos_.
bool FileSource::reposition()
{
    if (file_pos_stale_) {
        if (!platform::seek_file(file_, pos_))
            return false;
        file_pos_stale_ = false;
    }
    return true;
}

std::size_t FileSource::read(void* buffer, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        if (ahead_at_ == ahead_end_) {
            if (!reposition())
                break;
            const std::size_t want = size - done;
            if (want >= read_ahead) {
                // Too large to stage: straight into the caller's buffer.
                done += platform::read_file(file_, out + done, want);
                break;
            }
            ahead_at_ = 0;
            ahead_end_ = platform::read_file(file_, ahead_.get(), read_ahead);
            if (ahead_end_ == 0)
                break;
        }
        const std::size_t n = std::min(size - done, ahead_end_ - ahead_at_);
        std::memcpy(out + done, ahead_.get() + ahead_at_, n);
        ahead_at_ += n;
        done += n;
    }
    pos_ += done;
    return done;
}

bool FileSource::skip(std::uint64_t count)
{
    const std::size_t held = ahead_end_ - ahead_at_;
    if (count <= held) {
        ahead_at_ += static_cast<std::size_t>(count);
        pos_ += count;
        return true;
    }
    if (!platform::seek_file(file_, pos_ + count))
        return false;
    ahead_at_ = ahead_end_ = 0;
    file_pos_stale_ = false;
    pos_ += count;
    return true;
}

platform::Piece FileSource::lend(std::size_t size)
{
    platform::unmap_view(view_);

    const std::uint64_t want = std::min<std::uint64_t>({size, lend_window, remaining()});
    const std::size_t held = ahead_end_ - ahead_at_;
    // Only whole windows are mapped: a shorter run is cheaper to read.
    if (want == lend_window && held < want && can_map_) {
        if (platform::map_view(file_, pos_, lend_window, view_)) {
            // The window covers the held bytes again.
            ahead_at_ = ahead_end_ = 0;
            file_pos_stale_ = true;
            pos_ += lend_window;
            mapped_end_ = pos_;
            return view_.bytes;
        }
        can_map_ = false;  // one failed mapping is enough
    }

    // A run that the read-ahead holds whole is lent from there. Part of one
    // is not: the caller would write it apart from the rest, which it now
    // reads into its own buffer behind these bytes. Neither is any where
    // each piece costs a write of its own.
    if (want > held || !platform::gathers_writes())
        return {};
    const platform::Piece piece{ahead_.get() + ahead_at_, static_cast<std::size_t>(want)};
    ahead_at_ += piece.size;
    pos_ += piece.size;
    return piece;
}

bool FileSource::lent_intact() const
{
    std::uint64_t size = 0;
    return mapped_end_ == 0 || (platform::file_size(file_, size) && size >= mapped_end_);
}
