#include "flash_part.h"

#include "simulated_firmware.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

namespace qv::machine {
namespace {

// A descriptor closed with the scope.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) ::close(fd);
    }
};

bool Inside(uint64_t offset, uint64_t size, uint32_t partSize) {
    return offset <= partSize && size <= partSize - offset;
}

}  // namespace

uint8_t FlashPart::Write(uint32_t offset, const uint8_t* bytes, size_t size, CallOutcome& outcome, bool dryRun) {
    if (!Inside(offset, size, def_.size)) return kFlashSize;
    Descriptor file{dryRun ? -1 : ::open(file_.c_str(), O_WRONLY | O_CLOEXEC)};
    if (!dryRun && file.fd < 0) return outcome.reached = false, kUnsupported;
    size_t done = 0;
    while (done < size) {
        uint32_t at = offset + static_cast<uint32_t>(done);
        uint32_t block = at / kEraseBlock;
        size_t chunk = std::min<size_t>(size - done, kEraseBlock - at % kEraseBlock);
        if (def_.failingBlock == block) return def_.failingStatus;
        if (def_.powerLossAfter) {
            uint32_t written = state_.value("flash_blocks_written", 0u);
            if (written >= *def_.powerLossAfter) {
                state_["powered_off"] = true;
                changed_ = true;
                outcome.reached = false;
                return kUnsupported;
            }
            state_["flash_blocks_written"] = written + 1;
            changed_ = true;
        }
        bool kept = def_.keptBlock == block;
        if (!dryRun && !kept) {
            ssize_t n = ::pwrite(file.fd, bytes + done, chunk, at);
            if (n != static_cast<ssize_t>(chunk)) return outcome.reached = false, kUnsupported;
        }
        done += chunk;
    }
    return kOk;
}

bool FlashPart::Read(uint32_t offset, uint32_t size, Bytes& out) const {
    if (!Inside(offset, size, def_.size)) return false;
    Descriptor file{::open(file_.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) return false;
    out.resize(size);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(file.fd, out.data() + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace qv::machine
