// A text built in place, byte by byte: the usual sizes fit in `N` bytes on
// the caller's stack, and a longer text moves to the heap once, so a status
// change builds its line and its history texts without allocating.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace plumeta {

template <std::size_t N>
class TextBuilder {
public:
    TextBuilder() = default;
    TextBuilder(const TextBuilder&) = delete;
    TextBuilder& operator=(const TextBuilder&) = delete;

    void Append(const char* bytes, std::size_t size) {
        char* at = Extend(size);
        // Most pieces are a few bytes: copied here rather than by a call.
        if (size <= 16) {
            for (std::size_t i = 0; i < size; ++i) at[i] = bytes[i];
        } else {
            std::memcpy(at, bytes, size);
        }
    }
    void Append(std::string_view text) { Append(text.data(), text.size()); }
    void Append(const char* text) { Append(text, std::strlen(text)); }
    void Push(char byte) { *Extend(1) = byte; }
    // Empties the text, keeping its room.
    void Clear() { size_ = 0; }
    // Makes room for `size` more bytes and answers where they go.
    char* Extend(std::size_t size) {
        if (size > capacity_ - size_) Grow(size);
        char* at = data_ + size_;
        size_ += size;
        return at;
    }

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::string_view view() const { return std::string_view(data_, size_); }

private:
    void Grow(std::size_t more) {
        const std::size_t capacity = std::max(2 * capacity_, size_ + more);
        std::unique_ptr<char[]> grown(new char[capacity]);
        std::memcpy(grown.get(), data_, size_);
        heap_ = std::move(grown);
        data_ = heap_.get();
        capacity_ = capacity;
    }

    char stack_[N];
    std::unique_ptr<char[]> heap_;
    char* data_ = stack_;
    std::size_t size_ = 0;
    std::size_t capacity_ = N;
};

}  // namespace plumeta
