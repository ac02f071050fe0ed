// The firmware side of the WMI-ACPI call gate: what the firmware answers to one gate request ("vrxBIOSInt" +
// output size) inside a machine transaction. The operating system's WMI provider carries the request and the
// answer; the protocol is the firmware's:
//   0x20000 type 5  setup-password state: bit 1 of the 4-byte answer
//   0x20001         flash transfer: 1 begin, 2 end (a write transfer puts the whole image into the flash part,
//                   every block required), 3 flash information (ROM size, 4096-byte blocks, version 0x0100),
//                   4 read block, 5 write block (the block's checksum of little-endian words checked)
// Return codes: 0 success, 0x86 unknown command, 0x89 bad request, 0x8A a block outside a transfer or a partial
// image, and the firmware's own (0x87 wrong password).
#pragma once

#include "qv_firmware.h"

#include <cstdint>
#include <vector>

namespace qv::machine {

// A flash transfer between its begin and its end request; one per caller of the gate.
struct GateSession {
    bool writing = false;
    std::vector<uint8_t> image;  // blocks written in this transfer
    std::vector<bool> written;   // which 4096-byte blocks arrived
    std::vector<uint8_t> password;
    bool open = false;
};

// Answers one gate request: the return code, and exactly `outputSize` bytes in `output`.
uint32_t ExecuteGateCommand(Firmware& firmware, GateSession& session, uint32_t command, uint32_t commandType,
                            const std::vector<uint8_t>& input, uint32_t outputSize, std::vector<uint8_t>* output);

}  // namespace qv::machine
