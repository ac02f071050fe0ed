// SMBIOS parsing on arbitrary bytes: once as a table handed over by the instrumentation, once as the firmware's
// physical memory (0xF0000 onwards, the table address pointing into it). Every structure and string is read.
// The same bytes also go through the ROM's system information table walk and the system identifier rule.
#include "smbios_store.h"
#include "system_identity.h"

#include <string>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void ReadEverything(zmrmc::SmbiosStore& store) {
    zmrmc::SmbiosUse use(store);
    if (!use.Acquire()) return;
    store.VersionAtLeast(2, 1);
    for (int type = 0; type < 256; ++type) {
        zmrmc::SmbiosStore::Structure s;
        for (int n = 0; store.Find(static_cast<uint8_t>(type), n, &s); ++n) {
            for (size_t offset = 0; offset < 260; ++offset) {
                store.Byte(s, offset);
                store.StringAt(s, offset);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    zmrmc::SmbiosStore from_instrumentation(
        [&](zmrmc::RawSmbiosTables* t) {
            t->major = size > 0 ? data[0] : 0;
            t->data = bytes;
            return true;
        },
        nullptr);
    ReadEverything(from_instrumentation);

    auto read = [&](uint32_t address, void* buffer, uint32_t length) -> uint32_t {
        // Physical memory: the input mapped at 0xF0000 and again at 0 (so table addresses below 64 KB resolve).
        uint32_t base = address >= 0xF0000 ? 0xF0000 : 0;
        std::memset(buffer, 0, length);
        if (address - base >= bytes.size()) return length;
        uint32_t available = static_cast<uint32_t>(bytes.size()) - (address - base);
        std::memcpy(buffer, bytes.data() + (address - base), available < length ? available : length);
        return length;
    };
    zmrmc::SmbiosStore from_memory(nullptr, read);
    ReadEverything(from_memory);

    std::vector<uint8_t> sit = {'!', 'S', 'I', 'T'};
    sit.insert(sit.end(), bytes.begin(), bytes.end());
    zmrmc::ParseSystemInformation(sit);
    std::string text(bytes.begin(), bytes.end());
    size_t half = text.size() / 2;
    zmrmc::SystemIdFromSmbiosNames(text.substr(0, half), text.substr(half));
    zmrmc::SystemIdFromSmbiosNames("Brevik", text);
    return 0;
}
