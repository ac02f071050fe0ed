// Turns fuzzer bytes into wide text: UTF-8 where the bytes form it (without validation, so surrogates and
// code points up to 0x1FFFFF come through), 0xFF followed by four bytes as one raw 32-bit character, and any
// other byte as the character of the same value. NULs stay in the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

inline std::wstring WideFromFuzzBytes(const uint8_t* data, size_t size) {
    std::wstring text;
    size_t i = 0;
    while (i < size) {
        uint8_t lead = data[i];
        size_t extra = lead >= 0xC0 && lead < 0xE0   ? 1
                       : lead >= 0xE0 && lead < 0xF0 ? 2
                       : lead >= 0xF0 && lead < 0xF8 ? 3
                                                     : 0;
        if (lead == 0xFF && i + 4 < size) {
            uint32_t raw;
            std::memcpy(&raw, data + i + 1, sizeof raw);
            text.push_back(static_cast<wchar_t>(raw));
            i += 5;
            continue;
        }
        if (extra == 0 || i + extra >= size) {
            text.push_back(static_cast<wchar_t>(lead));
            ++i;
            continue;
        }
        uint32_t code = lead & (0x3F >> extra);
        for (size_t k = 1; k <= extra; ++k) code = (code << 6) | (data[i + k] & 0x3F);
        text.push_back(static_cast<wchar_t>(code));
        i += extra + 1;
    }
    return text;
}
