#include "requests.h"

#include "qv_firmware.h"
#include "qv_root_machine.h"
#include "windows.h"

#include <cstring>
#include <exception>
#include <optional>

namespace zmrdtct {
namespace {

using qv::machine::Bytes;
using qv::machine::CallOutcome;
using qv::machine::Firmware;
using qv::machine::Registers;

constexpr uint32_t kMaxCallerBuffer = 16u << 20;  // flash images; everything else is far smaller

uint32_t U32(const Bytes& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
uint16_t U16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
void Put32(Bytes& b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

Registers LoadRegisters(const Bytes& b) {
    Registers r;
    std::memcpy(&r, b.data(), 32);
    return r;
}
void StoreRegisters(Bytes& b, const Registers& r) { std::memcpy(b.data(), &r, 32); }

// A request refused before or after reaching the firmware.
struct Refusal {
    DWORD error;
};

// The parameter block of a "neither" request: from the input when it is long enough, else from the caller's
// output buffer (where the library places blocks of requests without input).
Bytes Block(const qv::win::DeviceRequest& request, size_t size) {
    if (request.in.size() >= size) return Bytes(request.in.begin(), request.in.begin() + static_cast<long>(size));
    if (request.outBuffer.size() >= size && request.outSize >= size)
        return Bytes(request.outBuffer.begin(), request.outBuffer.begin() + static_cast<long>(size));
    throw Refusal{ERROR_INVALID_PARAMETER};
}

Bytes CallerBytes(qv::win::DeviceCaller& caller, uint32_t address, uint32_t length) {
    if (length > kMaxCallerBuffer) throw Refusal{ERROR_INVALID_PARAMETER};
    Bytes data(length);
    if (length > 0 && !caller.Read(address, data.data(), length)) throw Refusal{ERROR_INVALID_ADDRESS};
    return data;
}

void ToCaller(qv::win::DeviceCaller& caller, uint32_t address, const Bytes& data) {
    if (!data.empty() && !caller.Write(address, data.data(), data.size())) throw Refusal{ERROR_INVALID_ADDRESS};
}

void Reached(const CallOutcome& outcome) {
    if (!outcome.reached) throw Refusal{ERROR_GEN_FAILURE};
}

}  // namespace

BOOL Driver::Handle(const qv::win::DeviceRequest& request, qv::win::DeviceCaller& caller, std::vector<uint8_t>& out,
                    DWORD& error) {
    const Bytes& in = request.in;
    BOOL result = TRUE;
    out.clear();
    try {
        auto machine = qv::win::RootMachine();
        auto transact = [&](const std::function<void(Firmware&)>& call) { machine->Transact(call); };
        // Parameter-block requests answer with the block; a nonzero status fails the request.
        auto status_block = [&](Bytes block, uint8_t status, bool failOnStatus) {
            block[0] = status;
            out = std::move(block);
            if (failOnStatus && status != 0) {
                error = ERROR_GEN_FAILURE;
                result = FALSE;
            }
        };
        switch (request.code) {
        case kReadPhysical: {
            if (in.size() < 8) throw Refusal{ERROR_INVALID_PARAMETER};
            uint32_t address = U32(in, 0), length = U32(in, 4);
            if (length == 0 || length > request.outSize) throw Refusal{ERROR_INVALID_PARAMETER};
            if (address < ConventionalMemory::kSize) {
                out.resize(std::min<uint32_t>(length, ConventionalMemory::kSize - address));
                memory_.Read(address, out.data(), out.size());
            } else {
                transact([&](Firmware& f) { out = f.ReadRomArea(address, length); });
            }
            if (out.empty()) throw Refusal{ERROR_INVALID_ADDRESS};
            break;
        }
        case kSystemId: {
            std::optional<uint16_t> id;
            transact([&](Firmware& f) { id = f.SystemIdentifier(); });
            if (!id) throw Refusal{ERROR_NOT_SUPPORTED};
            out = {static_cast<uint8_t>(*id), static_cast<uint8_t>(*id >> 8)};
            break;
        }
        case kSitAddress: {
            uint32_t address = 0;
            transact([&](Firmware& f) { address = f.SystemInformationTableAddress(); });
            out.resize(4);
            Put32(out, 0, address);
            break;
        }
        case kSmbiosEntry: {
            std::optional<Bytes> entry;
            transact([&](Firmware& f) { entry = f.SmbiosEntryPoint(); });
            if (!entry) throw Refusal{ERROR_NOT_SUPPORTED};
            out = *entry;
            break;
        }
        case kCpuSerial: {
            if (in.size() < 12 || U32(in, 0) != 12) throw Refusal{ERROR_INVALID_PARAMETER};
            bool supported = false;
            transact([&](Firmware& f) { supported = f.CpuSerialNumberSupported(); });
            out = Bytes(12, 0);
            Put32(out, 0, 12);
            Put32(out, 4, supported ? 1 : 0);
            break;
        }
        case kVersion: out = {0, kVersionMajor, kVersionMinor}; break;
        case kPciBios: {
            if (in.size() < 40) throw Refusal{ERROR_INVALID_PARAMETER};
            Registers r = LoadRegisters(in);
            CallOutcome outcome;
            transact([&](Firmware& f) { outcome = f.PciBios(r); });
            Reached(outcome);
            out.assign(in.begin(), in.begin() + 40);
            StoreRegisters(out, r);
            break;
        }
        case kInt15:
        case kInt15Strings: {
            if (in.size() < 40) throw Refusal{ERROR_INVALID_PARAMETER};
            size_t length = in.size() == 40 ? 0 : U32(in, 32);
            if (length > in.size() - 40) throw Refusal{ERROR_INVALID_PARAMETER};
            Registers r = LoadRegisters(in);
            Bytes data(in.begin() + 40, in.begin() + 40 + static_cast<long>(length));
            CallOutcome outcome;
            transact([&](Firmware& f) { outcome = f.Int15(r, &data, memory_, true); });
            Reached(outcome);
            out = in;
            StoreRegisters(out, r);
            if (!data.empty()) std::memcpy(out.data() + 40, data.data(), data.size());
            break;
        }
        case kInt16Bit: {
            if (in.size() < 34) throw Refusal{ERROR_INVALID_PARAMETER};
            Registers r = LoadRegisters(in);
            uint16_t number = U16(in, 32);
            uint16_t segment = static_cast<uint16_t>(r.segments);
            uint32_t linear = segment * 16u + static_cast<uint16_t>(r.edi);
            uint32_t block = memory_.BlockLength(caller.Id(), segment);
            size_t area = std::min<size_t>(
                in.size() - 34, block > static_cast<uint16_t>(r.edi) ? block - static_cast<uint16_t>(r.edi) : 0);
            memory_.SyncIn(caller);
            if (area > 0) memory_.Write(linear, in.data() + 34, area);
            CallOutcome outcome;
            transact([&](Firmware& f) { outcome = f.Interrupt(number, r, memory_); });
            Reached(outcome);
            out = in;
            StoreRegisters(out, r);
            if (area > 0) memory_.Read(linear, out.data() + 34, area);
            memory_.SyncOut(caller);
            break;
        }
        case kPnpBios: {
            if (in.size() < 2 || in.size() % 2 != 0) throw Refusal{ERROR_INVALID_PARAMETER};
            std::vector<uint16_t> words(in.size() / 2);
            std::memcpy(words.data(), in.data(), in.size());
            memory_.SyncIn(caller);
            CallOutcome outcome;
            transact([&](Firmware& f) { outcome = f.PnpBios(words, memory_); });
            Reached(outcome);
            memory_.SyncOut(caller);
            out.resize(in.size());
            std::memcpy(out.data(), words.data(), in.size());
            break;
        }
        case kGrantMemory: {
            if (in.size() < 20) throw Refusal{ERROR_INVALID_PARAMETER};
            out.assign(in.begin(), in.begin() + 20);
            uint16_t segment = memory_.Grant(caller.Id(), U32(in, 0), U32(in, 4));
            out[14] = static_cast<uint8_t>(segment);
            out[15] = static_cast<uint8_t>(segment >> 8);
            if (segment == 0) {
                error = ERROR_NOT_ENOUGH_MEMORY;
                result = FALSE;
            } else {
                memory_.SyncIn(caller);
            }
            break;
        }
        case kReleaseMemory: {
            if (in.size() < 20) throw Refusal{ERROR_INVALID_PARAMETER};
            if (!memory_.Release(caller.Id(), U16(in, 14))) throw Refusal{ERROR_INVALID_PARAMETER};
            out.assign(in.begin(), in.begin() + 20);
            break;
        }
        case kSecurity: {
            Bytes block = Block(request, 9);
            Bytes command = CallerBytes(caller, U32(block, 1), U32(block, 5));
            uint8_t status = 0;
            CallOutcome outcome;
            transact([&](Firmware& f) { status = f.SecuritySettings(command, outcome); });
            Reached(outcome);
            status_block(block, status, false);
            break;
        }
        case kPasswordState: {
            if (request.outSize < 5) throw Refusal{ERROR_INVALID_PARAMETER};
            uint32_t set = 0;
            uint8_t status = 0;
            CallOutcome outcome;
            transact([&](Firmware& f) { status = f.SetupPasswordState(set, outcome); });
            Reached(outcome);
            Bytes block(5, 0);
            Put32(block, 1, set);
            status_block(block, status, true);
            break;
        }
        case kLockState: {
            Bytes block = Block(request, 8);
            if (block[1] > 1) throw Refusal{ERROR_INVALID_PARAMETER};
            Bytes password = CallerBytes(caller, U32(block, 4), U16(block, 2));
            uint8_t status = 0;
            CallOutcome outcome;
            transact([&](Firmware& f) { status = f.ChangeLockState(block[1] == 1, password, outcome); });
            Reached(outcome);
            status_block(block, status, true);
            break;
        }
        case kObjectListSize: {
            Bytes block = Block(request, 9);
            uint32_t size = 0;
            uint8_t status = 0;
            CallOutcome outcome;
            transact([&](Firmware& f) { status = f.ObjectListSize(size, outcome); });
            Reached(outcome);
            Put32(block, 5, status == 0 ? size : 0);
            status_block(block, status, true);
            break;
        }
        case kObjectList: {
            Bytes block = Block(request, 9);
            Bytes list;
            uint8_t status = 0;
            CallOutcome outcome;
            transact([&](Firmware& f) { status = f.ObjectList(list, outcome); });
            Reached(outcome);
            if (status == 0 && list.size() > U32(block, 5)) status = 0x89;
            if (status == 0) ToCaller(caller, U32(block, 1), list);
            status_block(block, status, true);
            break;
        }
        case kObjectInfo:
        case kObjectValue: {
            Bytes block = Block(request, 11);
            Bytes data;
            uint8_t status = 0;
            CallOutcome outcome;
            transact([&](Firmware& f) {
                status = request.code == kObjectInfo ? f.ObjectInfo(U16(block, 1), data, outcome)
                                                     : f.ObjectValue(U16(block, 1), data, outcome);
            });
            Reached(outcome);
            if (status == 0 && data.size() > U32(block, 7)) status = 0x89;
            if (status == 0) ToCaller(caller, U32(block, 3), data);
            status_block(block, status, true);
            break;
        }
        case kSetObjectValue: {
            Bytes block = Block(request, 11);
            if (U32(block, 7) > 0x10000) throw Refusal{ERROR_INVALID_PARAMETER};
            Bytes value = CallerBytes(caller, U32(block, 3), U32(block, 7));
            uint8_t status = 0;
            CallOutcome outcome;
            transact([&](Firmware& f) { status = f.SetObjectValue(U16(block, 1), value, outcome); });
            Reached(outcome);
            status_block(block, status, true);
            break;
        }
        case kFlashWrite:
        case kFlashRead: {
            Bytes block = Block(request, 15);
            Bytes password = CallerBytes(caller, U32(block, 9), U16(block, 13));
            uint8_t status = 0;
            CallOutcome outcome;
            if (request.code == kFlashWrite) {
                Bytes image = CallerBytes(caller, U32(block, 1), U32(block, 5));
                transact([&](Firmware& f) { status = f.FlashWrite(image, password, outcome); });
                Reached(outcome);
            } else {
                if (U32(block, 5) > kMaxCallerBuffer) throw Refusal{ERROR_INVALID_PARAMETER};
                Bytes data;
                transact([&](Firmware& f) { status = f.FlashRead(data, U32(block, 5), password, outcome); });
                Reached(outcome);
                if (status == 0) ToCaller(caller, U32(block, 1), data);
            }
            status_block(block, status, true);
            break;
        }
        default: throw Refusal{ERROR_INVALID_FUNCTION};
        }
    } catch (const Refusal& refusal) {
        out.clear();
        error = refusal.error;
        return FALSE;
    } catch (const std::exception&) {
        out.clear();
        error = ERROR_GEN_FAILURE;
        return FALSE;
    }
    if (out.size() > request.outSize) {
        out.clear();
        error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    return result;
}

}  // namespace zmrdtct
