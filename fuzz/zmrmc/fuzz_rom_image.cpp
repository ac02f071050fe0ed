// ROM image input: any bytes as a cabinet (the entries ROM.BIN and ROM.SIG, compared ignoring case), and the
// signature check over what came out, with the input's first 84 bytes as the key blob. Neither may crash or
// read outside its input; an extracted entry is never longer than the cabinet reader's limit.

#include "cabinet_reader.h"
#include "image_signature.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    auto entries = zmrmc::ExtractCabinetEntries(bytes, {"ROM.BIN", "ROM.SIG"});
    if (!entries) return 0;
    for (const auto& [name, entry] : entries->found)
        if (entry.size() > zmrmc::kLargestCabinetEntry) std::abort();
    auto image = entries->found.find("ROM.BIN");
    auto signature = entries->found.find("ROM.SIG");
    if (image != entries->found.end() && signature != entries->found.end()) {
        std::vector<uint8_t> blob(bytes.begin(), bytes.begin() + static_cast<long>(std::min<size_t>(84, size)));
        zmrmc::CheckImageSignature(image->second, signature->second, blob);
    }
    return 0;
}
