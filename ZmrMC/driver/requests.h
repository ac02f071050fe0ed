// The driver's requests: decodes each device I/O control request (driver_protocol.h), runs it against the
// machine's firmware in one machine transaction and encodes the answer. Every malformed request is refused
// with a Win32 error.
#pragma once

#include "conventional_memory.h"
#include "driver_protocol.h"
#include "qv_device_server.h"

#include <cstdint>
#include <vector>

namespace zmrdtct {

constexpr uint8_t kVersionMajor = 3;
constexpr uint8_t kVersionMinor = 2;

class Driver {
public:
    // Serves one request with the handler its code names: TRUE with the answer in `out`, or FALSE with
    // `error` (and, for a block the firmware answered with a nonzero status, that block in `out`).
    BOOL Handle(const qv::win::DeviceRequest& request, qv::win::DeviceCaller& caller, std::vector<uint8_t>& out,
                DWORD& error);
    void Closed(uint64_t caller) { memory_.ReleaseAll(caller); }

private:
    ConventionalMemory memory_;
};

}  // namespace zmrdtct
