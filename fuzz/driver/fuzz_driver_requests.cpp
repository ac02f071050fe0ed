// Fuzzes the driver's request decoder against a real machine (two profiles) in a temporary system root.
// Input: byte 0 picks the machine and the request code, bytes 1-4 the output size, byte 5 splits the rest into
// the input buffer and the caller's output buffer; the caller's shared memory is a 64 KB window at 0x10000.

#include "qv_machine.h"
#include "qv_system_root.h"
#include "requests.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class FakeCaller final : public qv::win::DeviceCaller {
public:
    uint64_t Id() const override { return 1; }
    bool Read(uint32_t address, void* out, size_t size) const override {
        if (address < kBase || size > memory.size() || address - kBase > memory.size() - size) return false;
        std::memcpy(out, memory.data() + (address - kBase), size);
        return true;
    }
    bool Write(uint32_t address, const void* in, size_t size) const override {
        if (address < kBase || size > memory.size() || address - kBase > memory.size() - size) return false;
        std::memcpy(memory.data() + (address - kBase), in, size);
        return true;
    }
    static constexpr uint32_t kBase = 0x10000;
    mutable std::vector<uint8_t> memory = std::vector<uint8_t>(0x10000, 0x41);
};

// In this order (the seed corpus picks codes by their place); the last is no request of the driver's.
const uint32_t kCodes[] = {zmrdtct::kIoctlReadPhysical,   zmrdtct::kIoctlSystemId,   zmrdtct::kIoctlPciBios,
                           zmrdtct::kIoctlSitAddress,     zmrdtct::kIoctlInt15,      zmrdtct::kIoctlInt15Strings,
                           zmrdtct::kIoctlInt16Bit,       zmrdtct::kIoctlPnpBios,    zmrdtct::kIoctlGrantMemory,
                           zmrdtct::kIoctlReleaseMemory,  zmrdtct::kIoctlCpuSerial,  zmrdtct::kIoctlSmbiosEntry,
                           zmrdtct::kIoctlVersion,        zmrdtct::kIoctlFlashWrite, zmrdtct::kIoctlSecurity,
                           zmrdtct::kIoctlPasswordState,  zmrdtct::kIoctlLockState,  zmrdtct::kIoctlObjectList,
                           zmrdtct::kIoctlObjectListSize, zmrdtct::kIoctlObjectInfo, zmrdtct::kIoctlObjectValue,
                           zmrdtct::kIoctlSetObjectValue, zmrdtct::kIoctlFlashRead,  0x80002004};

std::string roots[2];

void UseRoot(int which) {
    static int current = -1;
    if (current == which) return;
    current = which;
    setenv("QV_SYSTEM_ROOT", roots[which].c_str(), 1);
    setenv("QV_MACHINE", which == 0 ? "desktop" : "laptop-legacy", 1);
    qv::win::ResetSystemRootForTesting();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (auto& root : roots) {
        char pattern[] = "/tmp/qv-fuzz-driver-XXXXXX";
        root = mkdtemp(pattern);
    }
    std::atexit([] {
        for (const auto& root : roots) std::filesystem::remove_all(root);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static zmrdtct::Driver driver;
    static FakeCaller caller;
    if (size < 6) return 0;
    UseRoot(data[0] & 1);
    qv::win::DeviceRequest request;
    request.code = kCodes[(data[0] >> 1) % (sizeof kCodes / sizeof kCodes[0])];
    uint32_t outSize;
    std::memcpy(&outSize, data + 1, 4);
    request.outSize = outSize % (qv::win::kMaxDeviceTransfer + 1);
    size_t split = std::min<size_t>(data[5], size - 6);
    request.in.assign(data + 6, data + 6 + split);
    request.outBuffer.assign(data + 6 + split, data + size);
    // Let some inputs also land in the caller's memory, where request blocks point.
    std::memcpy(caller.memory.data(), data, std::min<size_t>(size, 256));
    std::vector<uint8_t> out;
    DWORD error = 0;
    BOOL ok = driver.Handle(request, caller, out, error);
    if (out.size() > request.outSize) __builtin_trap();
    if (!ok && error == 0) __builtin_trap();
    if (data[0] == 0xFF) driver.Closed(1);
    return 0;
}
