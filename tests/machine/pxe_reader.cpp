// qvt_pxe_reader: a second program on the driver, for the driver tests. It opens the driver's device through
// its own handle, reads the one-shot network boot byte (INT 15h E845h, function 0x71) and exits with it: 1 when
// the device cannot be opened, 2 when the request fails.

#include "windows.h"

#include <cstdint>
#include <cstring>

int main() {
    HANDLE device = CreateFileW(L"\\\\.\\ZMRVextor", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (device == INVALID_HANDLE_VALUE) return 1;
    uint8_t block[40] = {};
    const uint32_t function = 0xE845, item = 0x71;
    std::memcpy(block, &function, 4);
    std::memcpy(block + 8, &item, 4);
    DWORD count = 0;
    bool read = DeviceIoControl(device, 0x80002058, block, 40, block, 40, &count, nullptr) && block[1] == 0;
    CloseHandle(device);
    return read ? block[5] : 2;
}
