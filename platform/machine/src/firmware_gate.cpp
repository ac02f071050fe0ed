// The firmware side of the WMI-ACPI call gate: the setup-password state and the block-wise flash protocol
// (begin, flash information, read block, write block, end) over the machine's flash part, where each written
// block lands as it arrives.

#include "qv_firmware_gate.h"

#include "byte_fields.h"

#include <algorithm>
#include <cstring>

namespace qv::machine {
namespace {

constexpr uint32_t kOk = 0x00;
constexpr uint32_t kUnsupported = 0x86;
constexpr uint32_t kInvalid = 0x89;
constexpr uint32_t kNoTransfer = 0x8A;  // a block request outside a begin/end bracket
constexpr uint32_t kGateBlock = 4096;   // the read-block answer's size

void Put32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

// The password of a request: `length` bytes at `at`, at most 32.
bool Password(const std::vector<uint8_t>& input, size_t at, uint16_t length, std::vector<uint8_t>* password) {
    if (length > 32 || input.size() < at + length) return false;
    password->assign(input.begin() + static_cast<long>(at), input.begin() + static_cast<long>(at + length));
    return true;
}

uint32_t Checksum(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4 && i + k < count; ++k) word |= static_cast<uint32_t>(bytes[i + k]) << (8 * k);
        sum += word;
    }
    return sum;
}

// A block request's position: version, size and offset checked against the flash part's announced geometry
// and the gate's 4096-byte answer.
bool BlockPosition(Firmware& f, const std::vector<uint8_t>& input, uint32_t* size, uint32_t* offset) {
    if (input.size() < 10 || U16(input, 0) != f.FlashInterfaceVersion()) return false;
    *size = U32(input, 2);
    *offset = U32(input, 6);
    uint32_t flashSize = f.FlashSize(), blockSize = f.FlashBlockSize();
    return *size > 0 && *size <= blockSize && *size <= kGateBlock && *offset % blockSize == 0 && *offset < flashSize &&
           flashSize - *offset >= *size;
}

uint32_t Flash(Firmware& f, GateSession& s, uint32_t type, const std::vector<uint8_t>& in, std::vector<uint8_t>* out,
               CallOutcome& outcome) {
    switch (type) {
    case 1:  // begin
        s.open = true;
        return kOk;
    case 2:  // end
        if (!s.open) return kNoTransfer;
        s.open = false;
        return kOk;
    case 3: {  // flash information
        if (in.size() < 34) return kInvalid;
        out->assign(128, 0);
        Put32(out, 0, f.FlashSize());
        Put32(out, 4, f.FlashBlockSize());
        Put32(out, 8, f.FlashInterfaceVersion());
        return kOk;
    }
    case 4: {  // read one block
        uint32_t size = 0, offset = 0;
        std::vector<uint8_t> password;
        if (!s.open) return kNoTransfer;
        if (in.size() < 44 || !BlockPosition(f, in, &size, &offset) || !Password(in, 12, U16(in, 10), &password))
            return kInvalid;
        Bytes block;
        uint8_t code = f.FlashReadBlock(offset, size, block, password, outcome);
        if (code != kOk) return code;
        out->assign(kGateBlock, 0);
        std::memcpy(out->data(), block.data(), size);
        return kOk;
    }
    case 5: {  // write one block: it lands in the part at once
        uint32_t size = 0, offset = 0;
        std::vector<uint8_t> password;
        if (!s.open) return kNoTransfer;
        if (in.size() < 16 || !BlockPosition(f, in, &size, &offset)) return kInvalid;
        uint16_t passwordLength = U16(in, 14);
        if (!Password(in, 16, passwordLength, &password) || in.size() != 16u + passwordLength + size) return kInvalid;
        const uint8_t* data = in.data() + 16 + passwordLength;
        if (Checksum(data, size) != U32(in, 10)) return kInvalid;
        return f.FlashWriteBlock(offset, Bytes(data, data + size), password, outcome);
    }
    default: return kUnsupported;
    }
}

}  // namespace

uint32_t ExecuteGateCommand(Firmware& firmware, GateSession& session, uint32_t command, uint32_t commandType,
                            const std::vector<uint8_t>& input, uint32_t outputSize, std::vector<uint8_t>* output,
                            CallOutcome& outcome) {
    std::vector<uint8_t> answer;
    uint32_t code = kUnsupported;
    if (command == 0x20000 && commandType == 5) {
        uint32_t set = 0;
        code = firmware.SetupPasswordState(set, outcome);
        answer.assign(4, 0);
        if (code == kOk && set != 0) answer[0] = 2;
    } else if (command == 0x20001) {
        code = Flash(firmware, session, commandType, input, &answer, outcome);
    }
    answer.resize(outputSize, 0);
    *output = std::move(answer);
    return code;
}

}  // namespace qv::machine
