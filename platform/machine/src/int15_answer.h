// How an INT 15h service answers: its status in AH, the carry flag set on failure. The secure interface's calls
// after the query carry "SECU" in EDX.
#pragma once

#include "qv_machine.h"

#include <cstdint>

namespace qv::machine {

constexpr uint32_t kSecureSignature = 0x53454355;  // "SECU" in EDX

inline void Answer(Registers& r, uint8_t ah) {
    r.eax = (r.eax & 0xFFFF00FFu) | (static_cast<uint32_t>(ah) << 8);
    if (ah == 0)
        r.eflags &= ~1u;
    else
        r.eflags |= 1u;
}

}  // namespace qv::machine
