#include "cabinet_reader.h"

#include "text_case.h"

#include <mspack.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace zmrmc {
namespace {

// The two names the decompressor is given: the cabinet, and the entry being extracted.
const char kCabinetName[] = "cabinet";
const char kEntryName[] = "entry";

// One open memory file: the cabinet (read only) or the entry being extracted (write only).
struct MemoryFile {
    const std::vector<uint8_t>* source = nullptr;
    std::vector<uint8_t>* sink = nullptr;
    size_t position = 0;
};

// libmspack's I/O layer over memory. The first member is what libmspack sees.
struct MemorySystem {
    mspack_system base;
    const std::vector<uint8_t>* cabinet;
    std::vector<uint8_t>* entry;  // where the entry being extracted goes; null when none is being extracted
};

MemoryFile* File(mspack_file* file) { return reinterpret_cast<MemoryFile*>(file); }

mspack_file* Open(mspack_system* self, const char* name, int mode) {
    auto* system = reinterpret_cast<MemorySystem*>(self);
    auto* file = new (std::nothrow) MemoryFile;
    if (file == nullptr) return nullptr;
    if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(name, kCabinetName) == 0) {
        file->source = system->cabinet;
    } else if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(name, kEntryName) == 0 && system->entry != nullptr) {
        file->sink = system->entry;
        file->sink->clear();
    } else {
        delete file;
        return nullptr;  // any other file (a cabinet of a spanning set): not offered
    }
    return reinterpret_cast<mspack_file*>(file);
}

void Close(mspack_file* file) { delete File(file); }

int Read(mspack_file* handle, void* buffer, int bytes) {
    MemoryFile* file = File(handle);
    if (file->source == nullptr || bytes < 0) return -1;
    size_t available = file->source->size() - std::min(file->position, file->source->size());
    size_t count = std::min<size_t>(static_cast<size_t>(bytes), available);
    if (count > 0) std::memcpy(buffer, file->source->data() + file->position, count);
    file->position += count;
    return static_cast<int>(count);
}

int Write(mspack_file* handle, void* buffer, int bytes) {
    MemoryFile* file = File(handle);
    if (file->sink == nullptr || bytes < 0) return -1;
    if (file->sink->size() + static_cast<size_t>(bytes) > kLargestCabinetEntry) return -1;
    const auto* data = static_cast<const uint8_t*>(buffer);
    try {
        file->sink->insert(file->sink->end(), data, data + bytes);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return bytes;
}

int Seek(mspack_file* handle, off_t offset, int mode) {
    MemoryFile* file = File(handle);
    if (file->source == nullptr) return -1;
    off_t base = mode == MSPACK_SYS_SEEK_START ? 0
                 : mode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(file->position)
                 : mode == MSPACK_SYS_SEEK_END ? static_cast<off_t>(file->source->size())
                                               : -1;
    if (base < 0) return -1;
    off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(file->source->size())) return -1;
    file->position = static_cast<size_t>(target);
    return 0;
}

off_t Tell(mspack_file* handle) { return static_cast<off_t>(File(handle)->position); }

void Message(mspack_file*, const char*, ...) {}  // the decompressor's warnings are not shown
void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void Free(void* pointer) { std::free(pointer); }
void Copy(void* source, void* destination, size_t bytes) { std::memmove(destination, source, bytes); }

struct DecompressorDeleter {
    void operator()(mscab_decompressor* d) const { mspack_destroy_cab_decompressor(d); }
};

}  // namespace

std::optional<CabinetEntries> ExtractCabinetEntries(const std::vector<uint8_t>& cabinet,
                                                    const std::vector<std::string>& names) {
    MemorySystem system{{Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr}, &cabinet, nullptr};
    std::unique_ptr<mscab_decompressor, DecompressorDeleter> decompressor(mspack_create_cab_decompressor(&system.base));
    if (!decompressor) return std::nullopt;
    decompressor->set_param(decompressor.get(), MSCABD_PARAM_SALVAGE, 0);
    mscabd_cabinet* opened = decompressor->open(decompressor.get(), kCabinetName);
    if (opened == nullptr) return std::nullopt;
    auto close = [&](mscabd_cabinet* c) { decompressor->close(decompressor.get(), c); };
    std::unique_ptr<mscabd_cabinet, decltype(close)> held(opened, close);

    CabinetEntries result;
    for (mscabd_file* file = opened->files; file != nullptr; file = file->next) {
        auto name = std::find_if(names.begin(), names.end(), [&](const std::string& wanted) {
            return file->filename != nullptr && EqualsIgnoringCase(file->filename, wanted.c_str());
        });
        if (name == names.end()) continue;
        if (result.found.count(*name) != 0 || file->length > kLargestCabinetEntry) return std::nullopt;
        std::vector<uint8_t> bytes;
        system.entry = &bytes;
        int error = decompressor->extract(decompressor.get(), file, kEntryName);
        system.entry = nullptr;
        if (error != MSPACK_ERR_OK || bytes.size() != file->length) return std::nullopt;
        result.found.emplace(*name, std::move(bytes));
    }
    return result;
}

}  // namespace zmrmc
