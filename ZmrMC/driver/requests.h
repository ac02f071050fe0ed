// The driver's requests: decodes each device I/O control request, runs it against the machine's firmware in
// one machine transaction and encodes the answer. Every malformed request is refused with a Win32 error.
#pragma once

#include "conventional_memory.h"
#include "qv_device_server.h"

#include <cstdint>
#include <vector>

namespace zmrdtct {

constexpr uint8_t kVersionMajor = 3;
constexpr uint8_t kVersionMinor = 2;

// Request codes (device type 0x8000, any access).
enum : uint32_t {
    kReadPhysical = 0x80002000,
    kSystemId = 0x80002008,
    kPciBios = 0x80002024,
    kSitAddress = 0x80002040,
    kInt15 = 0x80002058,
    kInt15Strings = 0x80002060,
    kInt16Bit = 0x80002150,
    kPnpBios = 0x80002154,
    kGrantMemory = 0x80002158,
    kReleaseMemory = 0x8000215C,
    kCpuSerial = 0x80002160,
    kSmbiosEntry = 0x80002164,
    kVersion = 0x80002407,
    kFlashWrite = 0x8000240F,
    kSecurity = 0x8000241B,
    kPasswordState = 0x8000241F,
    kLockState = 0x80002427,
    kObjectList = 0x8000242B,
    kObjectListSize = 0x8000242F,
    kObjectInfo = 0x80002433,
    kObjectValue = 0x80002437,
    kSetObjectValue = 0x8000243B,
    kFlashRead = 0x8000243F,
};

class Driver {
public:
    BOOL Handle(const qv::win::DeviceRequest& request, qv::win::DeviceCaller& caller, std::vector<uint8_t>& out,
                DWORD& error);
    void Closed(uint64_t caller) { memory_.ReleaseAll(caller); }

private:
    ConventionalMemory memory_;
};

}  // namespace zmrdtct
