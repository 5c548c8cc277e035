// A growing buffer of bytes whose new room is not cleared first: every byte is written by its
// writer, so clearing would only cost time.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>

namespace vornakite {

class ByteBuffer {
  public:
    // Room for `count` more bytes at the end, to be written by the caller.
    char* extend(std::size_t count) {
        if (size_ + count > capacity_) {
            reserve(std::max(size_ + count, capacity_ * 2));
        }
        char* at = data_.get() + size_;
        size_ += count;
        return at;
    }
    void append(const char* bytes, std::size_t count) { std::memcpy(extend(count), bytes, count); }
    void reserve(std::size_t capacity) {
        if (capacity > capacity_) {
            auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
            if (size_ > 0) {
                std::memcpy(bigger.get(), data_.get(), size_);
            }
            data_ = std::move(bigger);
            capacity_ = capacity;
        }
    }
    void clear() { size_ = 0; }
    void release() {
        data_.reset();
        size_ = capacity_ = 0;
    }

    char* data() { return data_.get(); }
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

  private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace vornakite
