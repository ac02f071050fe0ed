// The firmware's own call gate: the WMI-ACPI method class `vrxBIntM` in "\\.\root\WMI". A request is a
// command, a command type and input bytes packed into a `vrxBDataIn` record; the answer is the firmware's
// return code and a block of N bytes, N fixed by the method called ("vrxBIOSInt" + N).
//
// One per firmware access object. COM is initialised (apartment-threaded) on the creating thread; calls come
// from that thread or from threads whose COM state the host has set up. The connection is made on the first
// call (again on later calls while none exists) and kept until the gate is destroyed. Holds no lock.
#pragma once

#include <objbase.h>
#include <wbemcli.h>
#include <wrl/client.h>

#include <cstdint>

namespace zmrmc {

// What callers report when the gate could not carry a request (a negative result code).
constexpr uint32_t kGateTransportFailure = 289;
// The status a call reports when the firmware returned a data block of the wrong length.
constexpr uint32_t kGateWrongLength = 3;

class FirmwareCallGate {
public:
    FirmwareCallGate();
    ~FirmwareCallGate();
    FirmwareCallGate(const FirmwareCallGate&) = delete;
    FirmwareCallGate& operator=(const FirmwareCallGate&) = delete;

    // Calls the firmware. `status` receives rwReturnCode (left as the caller preset it when the firmware gave
    // none, or when a WMI step failed); for outputSize > 0, `output` receives the returned bytes. Returns the
    // result of the last WMI step: E_FAIL without a connection, any failing step's code, else success (also
    // when the data had the wrong length: status 3, output untouched).
    HRESULT Call(uint32_t command, uint32_t commandType, uint32_t inputSize, uint32_t outputSize, uint32_t* status,
                 const void* input, void* output);

private:
    HRESULT Connect();

    bool com_initialised_ = false;
    Microsoft::WRL::ComPtr<IWbemServices> services_;
};

// The status a caller works with: the firmware's, or 289 when the call itself failed.
inline uint32_t GateStatus(HRESULT hr, uint32_t status) { return FAILED(hr) ? kGateTransportFailure : status; }

}  // namespace zmrmc
