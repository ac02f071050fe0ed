#include "native_flash.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace zmrmc {
namespace {

constexpr uint32_t kFlashCommand = 0x20001;
enum : uint32_t { kBegin = 1, kEnd = 2, kInformation = 3, kReadBlock = 4, kWriteBlock = 5 };
constexpr uint32_t kInformationInput = 34, kInformationOutput = 128;
constexpr uint32_t kReadInput = 44;
constexpr uint32_t kBlockBuffer = 4096;
constexpr uint16_t kInterfaceVersion = 0x0100;
constexpr size_t kLongestPassword = 32;
constexpr int kBlockTries = 5;
constexpr int kPasses = 6;

void Put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// One flash: the gate, the password and the firmware's geometry.
class GateFlash {
public:
    GateFlash(FirmwareCallGate& gate, const NativeFlashRequest& request) : gate_(gate), request_(request) {}

    // Sends one request; the firmware's return code, or 289 when the gate could not carry it.
    uint32_t Send(uint32_t type, const std::vector<uint8_t>& input, std::vector<uint8_t>* output = nullptr) {
        uint32_t status = kNativePreset;
        uint32_t outputSize = output != nullptr ? static_cast<uint32_t>(output->size()) : 0;
        HRESULT hr = gate_.Call(kFlashCommand, type, static_cast<uint32_t>(input.size()), outputSize, &status,
                                input.empty() ? nullptr : input.data(), output != nullptr ? output->data() : nullptr);
        return GateStatus(hr, status);
    }

    // Flash information: 0 and the geometry kept, or the status that ends the flash.
    uint32_t Information() {
        std::vector<uint8_t> input(kInformationInput, 0), output(kInformationOutput, 0);
        PutPassword(input, 0, /*onlyWhenSet=*/true);
        if (uint32_t code = Send(kInformation, input, &output)) return code;
        rom_size_ = U32(output, 0);
        block_size_ = U32(output, 4);
        version_ = static_cast<uint16_t>(U32(output, 8));
        if (request_.image.size() != rom_size_) return kNativeSizeMismatch;
        if (version_ != kInterfaceVersion) return kNativeVersion;
        // Blocks travel through 4096-byte buffers: larger ones cannot be carried whole.
        if (block_size_ == 0 || block_size_ > kBlockBuffer || rom_size_ % block_size_ != 0) return kNativeGeometry;
        return 0;
    }

    // Writes `bytes` (the image or the saved copy) whole; `status` gets the last return code.
    bool Write(const std::vector<uint8_t>& bytes, uint32_t& status) {
        return Transfer(status, [&](uint32_t offset, uint32_t size) {
            std::vector<uint8_t> input(16 + request_.passwordLength + size);
            Put16(input, 0, version_);
            Put32(input, 2, size);
            Put32(input, 6, offset);
            Put32(input, 10, BlockChecksum(bytes.data() + offset, size));
            Put16(input, 14, static_cast<uint32_t>(request_.passwordLength));
            if (request_.passwordLength > 0) std::memcpy(&input[16], request_.password, request_.passwordLength);
            std::memcpy(&input[16 + request_.passwordLength], bytes.data() + offset, size);
            return Send(kWriteBlock, input);
        });
    }

    // Reads the whole ROM into `bytes` (sized to it); `status` gets the last return code.
    bool Read(std::vector<uint8_t>& bytes, uint32_t& status) {
        return Transfer(status, [&](uint32_t offset, uint32_t size) {
            std::vector<uint8_t> input(kReadInput, 0), output(kBlockBuffer, 0);
            Put16(input, 0, version_);
            Put32(input, 2, size);
            Put32(input, 6, offset);
            PutPassword(input, 10, /*onlyWhenSet=*/true);
            uint32_t code = Send(kReadBlock, input, &output);
            if (code == 0) std::memcpy(bytes.data() + offset, output.data(), size);
            return code;
        });
    }

    // Writes the saved copy back: true when the ROM holds it afterwards. A write-back that failed may still
    // have left it (a block that never takes a write keeps what it had), so the ROM is then read to tell.
    bool Restore(const std::vector<uint8_t>& saved) {
        uint32_t status = kNativePreset;
        if (Write(saved, status)) return true;
        try {
            std::vector<uint8_t> now(saved.size());
            return Read(now, status) && now == saved;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }

private:
    // u16 length and 32 bytes of password at `at`; left zero when `onlyWhenSet` and no setup password is set.
    void PutPassword(std::vector<uint8_t>& input, size_t at, bool onlyWhenSet) const {
        if (onlyWhenSet && !request_.passwordSet) return;
        Put16(input, at, static_cast<uint32_t>(request_.passwordLength));
        if (request_.passwordLength > 0) std::memcpy(&input[at + 2], request_.password, request_.passwordLength);
    }

    // Begin, every block (five tries each), end. The end request goes out in every case once begun.
    template <class Block>
    bool Transfer(uint32_t& status, Block block) {
        status = Send(kBegin, {});
        if (status != 0) return false;
        bool whole = true;
        for (uint32_t offset = 0; offset < rom_size_; offset += block_size_) {
            uint32_t size = std::min(block_size_, rom_size_ - offset);
            for (int tries = 0; tries < kBlockTries; ++tries) {
                status = block(offset, size);
                if (status == 0 || status == kNativeNoRetry) break;
            }
            if (status != 0) {
                whole = false;
                break;
            }
        }
        uint32_t end = Send(kEnd, {});
        if (!whole) return false;
        status = end;
        return end == 0;
    }

    FirmwareCallGate& gate_;
    const NativeFlashRequest& request_;
    uint32_t rom_size_ = 0;
    uint32_t block_size_ = 0;
    uint16_t version_ = 0;
};

}  // namespace

uint32_t BlockChecksum(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i < count; i += 4) {
        uint32_t word = 0;
        for (size_t k = 0; k < 4 && i + k < count; ++k) word |= static_cast<uint32_t>(bytes[i + k]) << (8 * k);
        sum += word;
    }
    return sum;
}

bool ReadBackMatches(const std::vector<uint8_t>& readBack, const std::vector<uint8_t>& image,
                     const std::vector<uint8_t>* saved) {
    if (readBack.size() != image.size()) return false;
    auto first = std::mismatch(image.begin(), image.end(), readBack.begin());
    if (first.first == image.end()) return true;
    size_t from = static_cast<size_t>(first.first - image.begin());
    size_t to = image.size() - 1;
    while (image[to] == readBack[to]) --to;
    if (from / 4096 != to / 4096) return false;
    if (saved == nullptr) return true;
    return saved->size() == image.size() &&
           std::equal(readBack.begin() + static_cast<long>(from), readBack.begin() + static_cast<long>(to + 1),
                      saved->begin() + static_cast<long>(from));
}

NativeFlashResult FlashThroughGate(FirmwareCallGate& gate, const NativeFlashRequest& request) {
    uint32_t status = kNativePreset;
    if (request.passwordLength != 0 && (request.passwordLength > kLongestPassword || request.password == nullptr))
        return {false, kNativePasswordTooLong};
    GateFlash flash(gate, request);
    if (uint32_t refused = flash.Information()) return {false, refused};

    // Save the current contents; without them the flash goes on, but cannot undo a failed write.
    std::optional<std::vector<uint8_t>> saved;
    try {
        saved.emplace(request.image.size());
        uint32_t readStatus = kNativePreset;
        if (!flash.Read(*saved, readStatus)) saved.reset();
    } catch (const std::bad_alloc&) {
        saved.reset();
    }

    bool done = false;
    for (int pass = 0; pass < kPasses && !done; ++pass) {
        status = kNativePreset;
        bool written = flash.Write(request.image, status);
        if (status == kNativeNoRetry) break;
        done = written;
        if (!written || !request.portable) continue;
        try {
            std::vector<uint8_t> readBack(request.image.size());
            uint32_t readStatus = kNativePreset;
            if (!flash.Read(readBack, readStatus))
                status = 0;  // cannot be compared: the write's own success stands
            else
                done = ReadBackMatches(readBack, request.image, saved ? &*saved : nullptr);
        } catch (const std::bad_alloc&) {
            status = 0;
        }
    }
    if (!done && status != kNativeNoRetry)
        status = saved && flash.Restore(*saved) ? kNativeRestored : kNativeNotWritten;
    return {status == 0, status};
}

}  // namespace zmrmc
