// A buffer that holds a password (its text or its scan codes) and is cleared before its memory goes back.
// Its size is fixed at construction, so no copy of the secret is ever left behind by a reallocation.
#pragma once

#include "windows.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace zmrmc {

class SecretBytes {
public:
    // `size` zero bytes.
    explicit SecretBytes(size_t size) : size_(size), bytes_(new uint8_t[size == 0 ? 1 : size]()) {}
    // A copy of a NUL-terminated text (null: the empty text) with its terminator, in at least `minimum` bytes.
    static SecretBytes Text(const char* text, size_t minimum = 0) {
        size_t length = text != nullptr ? std::strlen(text) : 0;
        SecretBytes copy(length + 1 > minimum ? length + 1 : minimum);
        if (length > 0) std::memcpy(copy.data(), text, length);
        return copy;
    }
    ~SecretBytes() { Clear(); }
    SecretBytes(SecretBytes&& other) noexcept : size_(other.size_), bytes_(std::move(other.bytes_)) { other.size_ = 0; }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes& operator=(SecretBytes&&) = delete;

    void Clear() {
        if (bytes_ != nullptr) SecureZeroMemory(bytes_.get(), size_);
    }
    uint8_t* data() { return bytes_.get(); }
    const uint8_t* data() const { return bytes_.get(); }
    char* text() { return reinterpret_cast<char*>(bytes_.get()); }
    const char* text() const { return reinterpret_cast<const char*>(bytes_.get()); }
    size_t size() const { return size_; }
    // The bytes before the first zero byte (never beyond the buffer).
    size_t Length() const {
        const void* end = size_ > 0 ? std::memchr(bytes_.get(), 0, size_) : nullptr;
        return end != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(end) - bytes_.get()) : size_;
    }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

}  // namespace zmrmc
