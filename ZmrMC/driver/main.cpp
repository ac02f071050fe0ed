// Zmrdtct: the library's firmware driver. Started by the service control manager, it creates its two devices,
// reports that it runs, and serves requests until it is stopped.

#include "requests.h"
#include "windows.h"

#include <string>

int main() {
    qv::win::DeviceServer server({L"ZMRVextor", L"ZMRDetectFlash"});
    std::string error;
    if (!server.Create(&error)) {
        OutputDebugStringA(("Zmrdtct: " + error).c_str());
        return 1;
    }
    qv::win::ReportServiceRunning();
    zmrdtct::Driver driver;
    server.Run([&](const qv::win::DeviceRequest& request, qv::win::DeviceCaller& caller, std::vector<uint8_t>& out,
                   DWORD& failure) { return driver.Handle(request, caller, out, failure); },
               [&](uint64_t caller) { driver.Closed(caller); });
    return 0;
}
