// BSTR allocation: a 32-bit byte count, the text, and a terminating NUL.

#include "oleauto.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>

namespace {

constexpr size_t kPrefix = sizeof(uint32_t);

// Allocates room for `bytes` bytes of text plus a wide NUL; the prefix holds the byte count.
BSTR Allocate(size_t bytes) {
    if (bytes > std::numeric_limits<uint32_t>::max() - kPrefix - 2 * sizeof(OLECHAR)) return nullptr;
    // Round up so that the wide terminator is aligned even for odd byte lengths.
    size_t text_space = (bytes + sizeof(OLECHAR) - 1) / sizeof(OLECHAR) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefix + text_space + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    auto count = static_cast<uint32_t>(bytes);
    std::memcpy(block, &count, kPrefix);
    // The prefix is 4 bytes and OLECHAR is 4 bytes wide on this platform, so the text stays aligned.
    static_assert(kPrefix % alignof(OLECHAR) == 0);
    return reinterpret_cast<BSTR>(block + kPrefix);
}

uint32_t ByteCount(BSTR text) {
    uint32_t count;
    std::memcpy(&count, reinterpret_cast<unsigned char*>(text) - kPrefix, kPrefix);
    return count;
}

}  // namespace

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > std::numeric_limits<uint32_t>::max() / sizeof(OLECHAR)) return nullptr;
    BSTR result = Allocate(size_t{length} * sizeof(OLECHAR));
    if (result != nullptr && text != nullptr) std::memcpy(result, text, size_t{length} * sizeof(OLECHAR));
    return result;
}

BSTR SysAllocStringByteLen(LPCSTR bytes, UINT length) {
    BSTR result = Allocate(length);
    if (result != nullptr && bytes != nullptr) std::memcpy(result, bytes, length);
    return result;
}

INT SysReAllocString(BSTR* target, const OLECHAR* text) {
    if (target == nullptr) return FALSE;
    BSTR copy = SysAllocString(text);
    if (copy == nullptr && text != nullptr) return FALSE;
    SysFreeString(*target);
    *target = copy;
    return TRUE;
}

void SysFreeString(BSTR text) {
    if (text != nullptr) std::free(reinterpret_cast<unsigned char*>(text) - kPrefix);
}

UINT SysStringLen(BSTR text) { return text == nullptr ? 0 : ByteCount(text) / sizeof(OLECHAR); }
UINT SysStringByteLen(BSTR text) { return text == nullptr ? 0 : ByteCount(text); }
