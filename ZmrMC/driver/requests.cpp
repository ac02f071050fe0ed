#include "requests.h"

#include "qv_firmware.h"
#include "qv_root_machine.h"
#include "windows.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <functional>
#include <optional>

namespace zmrdtct {
namespace {

using qv::machine::CallOutcome;
using qv::machine::Firmware;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMaxCallerBuffer = 16u << 20;  // flash images; everything else is far smaller

// A request refused before or after reaching the firmware.
struct Refusal {
    DWORD error;
};

qv::machine::Registers ToMachine(const Registers& r) {
    return {r.eax, r.ebx, r.ecx, r.edx, r.esi, r.edi, r.segments, r.eflags};
}

Registers FromMachine(const qv::machine::Registers& r) {
    return {r.eax, r.ebx, r.ecx, r.edx, r.esi, r.edi, r.segments, r.eflags};
}

void Reached(const CallOutcome& outcome) {
    if (!outcome.reached) throw Refusal{ERROR_GEN_FAILURE};
}

// One request being served: what it brought, whom it came from, and its answer.
struct Call {
    const qv::win::DeviceRequest& request;
    qv::win::DeviceCaller& caller;
    ConventionalMemory& memory;
    qv::machine::Machine& machine;
    Bytes& out;
    DWORD failure = 0;  // nonzero: the answer goes back, but the request fails with this error

    void Transact(const std::function<void(Firmware&)>& call) { machine.Transact(call); }

    // The block at the start of the input; refused when the input is shorter.
    template <class Block>
    Block Input() const {
        std::optional<Block> block = Load<Block>(request.in);
        if (!block) throw Refusal{ERROR_INVALID_PARAMETER};
        return *block;
    }

    // The parameter block of a "neither" request: from the input when it is long enough, else from the
    // caller's output buffer (where the library places blocks of requests without input).
    template <class Block>
    Block Parameters() const {
        if (std::optional<Block> block = Load<Block>(request.in)) return *block;
        if (request.outSize >= sizeof(Block))
            if (std::optional<Block> block = Load<Block>(request.outBuffer)) return *block;
        throw Refusal{ERROR_INVALID_PARAMETER};
    }

    // Parameter-block requests answer with the block and the firmware's status in it; with `failOnStatus` a
    // nonzero status fails the request.
    template <class Block>
    void AnswerWithStatus(Block block, uint8_t status, bool failOnStatus) {
        block.status = status;
        out = ToBytes(block);
        if (failOnStatus && status != 0) failure = ERROR_GEN_FAILURE;
    }

    Bytes CallerBytes(uint32_t address, uint32_t length) const {
        if (length > kMaxCallerBuffer) throw Refusal{ERROR_INVALID_PARAMETER};
        Bytes data(length);
        if (length > 0 && !caller.Read(address, data.data(), length)) throw Refusal{ERROR_INVALID_ADDRESS};
        return data;
    }

    void ToCaller(uint32_t address, const Bytes& data) const {
        if (!data.empty() && !caller.Write(address, data.data(), data.size())) throw Refusal{ERROR_INVALID_ADDRESS};
    }
};

void ReadPhysical(Call& c) {
    auto read = c.Input<PhysicalReadRequest>();
    if (read.length == 0 || read.length > c.request.outSize) throw Refusal{ERROR_INVALID_PARAMETER};
    if (read.address < ConventionalMemory::kSize) {
        c.out.resize(std::min<uint32_t>(read.length, ConventionalMemory::kSize - read.address));
        c.memory.Read(read.address, c.out.data(), c.out.size());
    } else {
        c.Transact([&](Firmware& f) { c.out = f.ReadRomArea(read.address, read.length); });
    }
    if (c.out.empty()) throw Refusal{ERROR_INVALID_ADDRESS};
}

void SystemId(Call& c) {
    std::optional<uint16_t> id;
    c.Transact([&](Firmware& f) { id = f.SystemIdentifier(); });
    if (!id) throw Refusal{ERROR_NOT_SUPPORTED};
    c.out = ToBytes(SystemIdAnswer{*id});
}

void SitAddress(Call& c) {
    SitAddressAnswer answer{};
    c.Transact([&](Firmware& f) { answer.address = f.SystemInformationTableAddress(); });
    c.out = ToBytes(answer);
}

void SmbiosEntry(Call& c) {
    std::optional<Bytes> entry;
    c.Transact([&](Firmware& f) { entry = f.SmbiosEntryPoint(); });
    if (!entry) throw Refusal{ERROR_NOT_SUPPORTED};
    c.out = *entry;
}

void CpuSerial(Call& c) {
    auto block = c.Input<CpuSerialBlock>();
    if (block.size != sizeof(CpuSerialBlock)) throw Refusal{ERROR_INVALID_PARAMETER};
    bool supported = false;
    c.Transact([&](Firmware& f) { supported = f.CpuSerialNumberSupported(); });
    c.out = ToBytes(CpuSerialBlock{sizeof(CpuSerialBlock), supported ? 1u : 0u, 0});
}

void Version(Call& c) { c.out = ToBytes(VersionAnswer{0, kVersionMajor, kVersionMinor}); }

void PciBios(Call& c) {
    auto block = c.Input<RegisterBlock>();
    qv::machine::Registers r = ToMachine(block.registers);
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { outcome = f.PciBios(r); });
    Reached(outcome);
    block.registers = FromMachine(r);
    c.out = ToBytes(block);
}

// The 32-bit INT 15h calls: the register block and the data area its length names, both answered in place.
void Int15(Call& c) {
    const Bytes& in = c.request.in;
    auto block = c.Input<RegisterBlock>();
    size_t area = in.size() - sizeof(RegisterBlock);
    size_t length = area == 0 ? 0 : block.dataLength;
    if (length > area) throw Refusal{ERROR_INVALID_PARAMETER};
    qv::machine::Registers r = ToMachine(block.registers);
    auto data_start = in.begin() + static_cast<long>(sizeof(RegisterBlock));
    Bytes data(data_start, data_start + static_cast<long>(length));
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { outcome = f.Int15(r, &data, c.memory, true); });
    Reached(outcome);
    block.registers = FromMachine(r);
    c.out = in;
    Store(block, c.out);
    if (!data.empty()) std::memcpy(c.out.data() + sizeof(RegisterBlock), data.data(), std::min(data.size(), area));
}

// The 16-bit interrupt call: the data area goes into the caller's conventional-memory block at DI and comes
// back from there.
void Int16Bit(Call& c) {
    const Bytes& in = c.request.in;
    auto request = c.Input<InterruptRequest>();
    qv::machine::Registers r = ToMachine(request.registers);
    uint16_t segment = static_cast<uint16_t>(r.segments);
    uint16_t offset = static_cast<uint16_t>(r.edi);
    uint32_t linear = segment * 16u + offset;
    uint32_t block = c.memory.BlockLength(c.caller.Id(), segment);
    size_t area = std::min<size_t>(in.size() - sizeof(InterruptRequest), block > offset ? block - offset : 0);
    c.memory.SyncIn(c.caller);
    if (area > 0) c.memory.Write(linear, in.data() + sizeof(InterruptRequest), area);
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { outcome = f.Interrupt(request.interrupt, r, c.memory); });
    Reached(outcome);
    request.registers = FromMachine(r);
    c.out = in;
    Store(request, c.out);
    if (area > 0) c.memory.Read(linear, c.out.data() + sizeof(InterruptRequest), area);
    c.memory.SyncOut(c.caller);
}

void PnpBios(Call& c) {
    const Bytes& in = c.request.in;
    if (in.size() < 2 || in.size() % 2 != 0) throw Refusal{ERROR_INVALID_PARAMETER};
    std::vector<uint16_t> words(in.size() / 2);
    std::memcpy(words.data(), in.data(), in.size());
    c.memory.SyncIn(c.caller);
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { outcome = f.PnpBios(words, c.memory); });
    Reached(outcome);
    c.memory.SyncOut(c.caller);
    c.out.resize(in.size());
    std::memcpy(c.out.data(), words.data(), in.size());
}

void GrantMemory(Call& c) {
    auto block = c.Input<MemoryRequest>();
    block.segment = c.memory.Grant(c.caller.Id(), block.address, block.length, block.segment);
    c.out = ToBytes(block);
    if (block.segment == 0)
        c.failure = ERROR_NOT_ENOUGH_MEMORY;
    else
        c.memory.SyncIn(c.caller);
}

void ReleaseMemory(Call& c) {
    auto block = c.Input<MemoryRequest>();
    if (!c.memory.Release(c.caller.Id(), block.segment)) throw Refusal{ERROR_INVALID_PARAMETER};
    c.out = ToBytes(block);
}

void Security(Call& c) {
    auto block = c.Parameters<BufferBlock>();
    Bytes command = c.CallerBytes(block.address, block.size);
    uint8_t status = 0;
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { status = f.SecuritySettings(command, outcome); });
    Reached(outcome);
    c.AnswerWithStatus(block, status, false);
}

void PasswordState(Call& c) {
    if (c.request.outSize < sizeof(PasswordStateAnswer)) throw Refusal{ERROR_INVALID_PARAMETER};
    uint32_t set = 0;
    uint8_t status = 0;
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { status = f.SetupPasswordState(set, outcome); });
    Reached(outcome);
    c.AnswerWithStatus(PasswordStateAnswer{0, set}, status, true);
}

void LockState(Call& c) {
    auto block = c.Parameters<LockStateBlock>();
    if (block.lock > 1) throw Refusal{ERROR_INVALID_PARAMETER};
    Bytes password = c.CallerBytes(block.password, block.passwordLength);
    uint8_t status = 0;
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { status = f.ChangeLockState(block.lock == 1, password, outcome); });
    Reached(outcome);
    c.AnswerWithStatus(block, status, true);
}

void ObjectListSize(Call& c) {
    auto block = c.Parameters<BufferBlock>();
    uint32_t size = 0;
    uint8_t status = 0;
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { status = f.ObjectListSize(size, outcome); });
    Reached(outcome);
    block.size = status == 0 ? size : 0;
    c.AnswerWithStatus(block, status, true);
}

void ObjectList(Call& c) {
    auto block = c.Parameters<BufferBlock>();
    Bytes list;
    uint8_t status = 0;
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { status = f.ObjectList(list, outcome); });
    Reached(outcome);
    if (status == 0 && list.size() > block.size) status = 0x89;
    if (status == 0) c.ToCaller(block.address, list);
    c.AnswerWithStatus(block, status, true);
}

void ObjectInfoOrValue(Call& c) {
    auto block = c.Parameters<ObjectBlock>();
    Bytes data;
    uint8_t status = 0;
    CallOutcome outcome;
    c.Transact([&](Firmware& f) {
        status = c.request.code == kIoctlObjectInfo ? f.ObjectInfo(block.index, data, outcome)
                                                    : f.ObjectValue(block.index, data, outcome);
    });
    Reached(outcome);
    if (status == 0 && data.size() > block.length) status = 0x89;
    if (status == 0) c.ToCaller(block.address, data);
    c.AnswerWithStatus(block, status, true);
}

void SetObjectValue(Call& c) {
    auto block = c.Parameters<ObjectBlock>();
    if (block.length > 0x10000) throw Refusal{ERROR_INVALID_PARAMETER};
    Bytes value = c.CallerBytes(block.address, block.length);
    uint8_t status = 0;
    CallOutcome outcome;
    c.Transact([&](Firmware& f) { status = f.SetObjectValue(block.index, value, outcome); });
    Reached(outcome);
    c.AnswerWithStatus(block, status, true);
}

void Flash(Call& c) {
    auto block = c.Parameters<FlashBlock>();
    Bytes password = c.CallerBytes(block.password, block.passwordLength);
    uint8_t status = 0;
    CallOutcome outcome;
    if (c.request.code == kIoctlFlashWrite) {
        Bytes image = c.CallerBytes(block.image, block.length);
        c.Transact([&](Firmware& f) { status = f.FlashWrite(image, password, outcome); });
        Reached(outcome);
    } else {
        if (block.length > kMaxCallerBuffer) throw Refusal{ERROR_INVALID_PARAMETER};
        Bytes data;
        c.Transact([&](Firmware& f) { status = f.FlashRead(data, block.length, password, outcome); });
        Reached(outcome);
        if (status == 0) c.ToCaller(block.image, data);
    }
    c.AnswerWithStatus(block, status, true);
}

struct Route {
    uint32_t code;
    void (*handler)(Call&);
};

constexpr Route kRoutes[] = {
    {kIoctlReadPhysical, ReadPhysical},
    {kIoctlSystemId, SystemId},
    {kIoctlPciBios, PciBios},
    {kIoctlSitAddress, SitAddress},
    {kIoctlInt15, Int15},
    {kIoctlInt15Strings, Int15},
    {kIoctlInt16Bit, Int16Bit},
    {kIoctlPnpBios, PnpBios},
    {kIoctlGrantMemory, GrantMemory},
    {kIoctlReleaseMemory, ReleaseMemory},
    {kIoctlCpuSerial, CpuSerial},
    {kIoctlSmbiosEntry, SmbiosEntry},
    {kIoctlVersion, Version},
    {kIoctlFlashWrite, Flash},
    {kIoctlSecurity, Security},
    {kIoctlPasswordState, PasswordState},
    {kIoctlLockState, LockState},
    {kIoctlObjectList, ObjectList},
    {kIoctlObjectListSize, ObjectListSize},
    {kIoctlObjectInfo, ObjectInfoOrValue},
    {kIoctlObjectValue, ObjectInfoOrValue},
    {kIoctlSetObjectValue, SetObjectValue},
    {kIoctlFlashRead, Flash},
};

void (*HandlerOf(uint32_t code))(Call&) {
    for (const Route& route : kRoutes)
        if (route.code == code) return route.handler;
    return nullptr;
}

}  // namespace

BOOL Driver::Handle(const qv::win::DeviceRequest& request, qv::win::DeviceCaller& caller, std::vector<uint8_t>& out,
                    DWORD& error) {
    out.clear();
    DWORD failure = 0;
    try {
        auto machine = qv::win::RootMachine();
        auto handler = HandlerOf(request.code);
        if (handler == nullptr) throw Refusal{ERROR_INVALID_FUNCTION};
        Call call{request, caller, memory_, *machine, out};
        handler(call);
        failure = call.failure;
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
    if (failure != 0) {
        error = failure;
        return FALSE;
    }
    return TRUE;
}

}  // namespace zmrdtct
