// Both scan-code conversions on arbitrary text and capacities: no read or write outside the buffers, results
// never longer than the text, no shift bits, error positions inside the caller's text.
#include "scan_codes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // First byte: the capacity offered to the tagged conversion; the rest: the text.
    int capacity = data[0];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.c_str();  // up to the first NUL, as a C caller would pass it

    // Exactly-sized heap buffers so that AddressSanitizer sees any overrun.
    std::vector<unsigned char> tagged(static_cast<size_t>(capacity > 0 ? capacity : 1));
    const char* error = nullptr;
    if (zmrmc::TaggedPasswordToScanCodes(text.c_str(), tagged.data(), capacity, &error)) {
        size_t length = strnlen(reinterpret_cast<const char*>(tagged.data()), tagged.size());
        if (length >= tagged.size() || length > text.size()) std::abort();
        for (size_t i = 0; i < length; ++i)
            if (tagged[i] & 0x80) std::abort();
    } else if (error != nullptr && (error < text.c_str() || error > text.c_str() + text.size())) {
        std::abort();
    }

    std::vector<unsigned char> plain(text.size() + 1);
    error = nullptr;
    if (zmrmc::KeyTextToScanCodes(0, text.c_str(), plain.data(), &error)) {
        if (error != nullptr || std::strlen(reinterpret_cast<const char*>(plain.data())) > text.size()) std::abort();
    } else if (error == nullptr || error < text.c_str() || error >= text.c_str() + text.size() || plain[0] != 0) {
        std::abort();
    }
    return 0;
}
