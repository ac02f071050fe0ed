// An in-parameter of a method as ANSI text (the system's code page), in a buffer that is cleared before its
// memory goes back: passwords travel in these texts. A parameter the caller left out is null, which differs
// from an empty text.
#pragma once

#include "oleauto.h"
#include "windows.h"

#include <cstring>
#include <memory>

class SecretText {
public:
    // The text of a VT_BSTR value; VT_NULL and VT_EMPTY give the null text. Any other type is not a text
    // parameter: E_INVALIDARG is thrown the framework's way.
    explicit SecretText(const VARIANT& value);
    // A copy of ANSI text (null stays null).
    explicit SecretText(const char* text);
    ~SecretText() { Clear(); }
    SecretText(SecretText&& other) noexcept
        : bytes_(std::move(other.bytes_)), length_(other.length_), lossy_(other.lossy_) {
        other.length_ = 0;
    }
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    SecretText& operator=(SecretText&&) = delete;

    bool IsNull() const { return bytes_ == nullptr; }
    // Some character had no ANSI form (it would have become "?"): the text is not what the caller gave.
    bool Lossy() const { return lossy_; }
    bool IsEmpty() const { return bytes_ == nullptr || length_ == 0; }
    // Null for the null text.
    const char* Get() const { return bytes_.get(); }
    size_t Length() const { return length_; }
    bool operator==(const SecretText& other) const {
        if (IsNull() || other.IsNull()) return IsNull() && other.IsNull();
        return length_ == other.length_ && std::memcmp(bytes_.get(), other.bytes_.get(), length_) == 0;
    }

private:
    void Clear() {
        if (bytes_ != nullptr) SecureZeroMemory(bytes_.get(), length_ + 1);
    }
    std::unique_ptr<char[]> bytes_;
    size_t length_ = 0;
    bool lossy_ = false;
};

// Reads the in-parameter `name` of a method as a SecretText, clearing the wide copy the read made.
class WMIMethodCall;
SecretText ReadTextParameter(WMIMethodCall& call, LPCWSTR name);
