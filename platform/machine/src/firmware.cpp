// The simulated firmware: fault injection, state helpers, ROM area, PCI BIOS, Plug and Play BIOS, flash part.
// Passwords and the lock are in firmware_passwords.cpp, the security settings command in firmware_security.cpp.

#include "machine_store.h"
#include "simulated_firmware.h"

#include <csignal>
#include <cstdlib>

#include <algorithm>
#include <cstring>

namespace qv::machine {
namespace {

void Carry(Registers& r, uint8_t ah) {
    r.eax = (r.eax & 0xFFFF00FFu) | (static_cast<uint32_t>(ah) << 8);
    if (ah == 0)
        r.eflags &= ~1u;
    else
        r.eflags |= 1u;
}

uint32_t Linear(uint16_t offset, uint16_t segment) { return (static_cast<uint32_t>(segment) << 4) + offset; }

Bytes EisaId(const std::string& id) {
    auto letter = [&](char c) { return static_cast<uint16_t>((c - 'A' + 1) & 31); };
    uint16_t vendor = static_cast<uint16_t>((letter(id[0]) << 10) | (letter(id[1]) << 5) | letter(id[2]));
    uint16_t product = static_cast<uint16_t>(std::stoul(id.substr(3), nullptr, 16));
    return {static_cast<uint8_t>(vendor >> 8), static_cast<uint8_t>(vendor), static_cast<uint8_t>(product >> 8),
            static_cast<uint8_t>(product)};
}

}  // namespace

SimulatedFirmware::SimulatedFirmware(const Profile& profile, const ObjectCatalogue& catalogue, Bytes& romArea,
                                     Json& state, const std::filesystem::path& dir)
    : profile_(profile), state_(state), dir_(dir), catalogue_(catalogue), romArea_(romArea) {
    HashPlainPasswords();
}

SimulatedFirmware::Injected SimulatedFirmware::Inject(const std::string& kind) {
    ignoreWrites_ = false;
    Injected result;
    if (profile_.faults.empty()) return result;  // most machines: nothing to count, no state to look up
    Json& counts = state_["fault_counts"];
    if (!counts.is_array()) counts = Json::array();
    for (size_t i = 0; i < profile_.faults.size(); ++i) {
        const FaultRule& rule = profile_.faults[i];
        if (kind.compare(0, rule.call.size(), rule.call) != 0) continue;
        while (counts.size() <= i) counts.push_back(0);
        uint32_t seen = counts[i].get<uint32_t>() + 1;
        counts[i] = seen;
        changed_ = true;
        bool active = seen >= rule.nth && (rule.times == 0 || seen < rule.nth + rule.times);
        if (!active) continue;
        if (rule.action == "fail")
            result.fail = true;
        else if (rule.action == "status")
            result.status = rule.status;
        else if (rule.action == "kill")
            Killed();
        else
            ignoreWrites_ = true;
    }
    return result;
}

// The calling process is killed in the middle of the call, as by kill -9: nothing of the call is stored, but
// the rule's count is, so that the call after it (from a new driver) is not killed again.
void SimulatedFirmware::Killed() {
    WriteFileAtomically(dir_ / "state.json", state_.dump(1));
    ::raise(SIGKILL);
    std::_Exit(137);
}

void SimulatedFirmware::Set(const std::string& key, Json value) {
    if (ignoreWrites_) return;
    state_[key] = std::move(value);
    changed_ = true;
}

CallOutcome SimulatedFirmware::Interrupt(uint16_t number, Registers& regs, RealModeMemory& memory) {
    if (number == 0x15) return Int15(regs, nullptr, memory, false);
    if (number == 0x1A && (regs.eax & 0xFF00) == 0xB100) return PciBios(regs);
    Injected fault = Inject("int." + std::to_string(number));
    if (fault.fail) return {false};
    Carry(regs, fault.status.value_or(kUnsupported));
    return {};
}

CallOutcome SimulatedFirmware::PciBios(Registers& regs) {
    Injected fault = Inject("pci");
    if (fault.fail) return {false};
    if (fault.status) {
        Carry(regs, *fault.status);
        return {};
    }
    uint16_t ax = static_cast<uint16_t>(regs.eax);
    if (ax == 0xB101) {
        uint8_t lastBus = 0;
        for (const auto& f : profile_.pci) lastBus = std::max(lastBus, f.bus);
        regs.eax = (regs.eax & 0xFFFF0000u) | 0x0001;  // AH 0, AL = configuration mechanism 1
        regs.ebx = (regs.ebx & 0xFFFF0000u) | 0x0210;  // interface version 2.10
        regs.ecx = (regs.ecx & 0xFFFFFF00u) | lastBus;
        regs.edx = 0x20494350;  // "PCI "
        regs.eflags &= ~1u;
        return {};
    }
    int width = ax == 0xB108 ? 1 : ax == 0xB109 ? 2 : ax == 0xB10A ? 4 : 0;
    if (width == 0) {
        Carry(regs, 0x81);  // function not supported
        return {};
    }
    uint16_t reg = static_cast<uint16_t>(regs.edi);
    if (reg > 256 - width || reg % width != 0) {
        Carry(regs, 0x87);  // bad register number
        return {};
    }
    uint8_t bus = static_cast<uint8_t>(regs.ebx >> 8), devfn = static_cast<uint8_t>(regs.ebx);
    uint8_t space[256];
    std::memset(space, 0xFF, sizeof space);
    for (const auto& f : profile_.pci) {
        if (f.bus != bus || (f.device << 3 | f.function) != devfn) continue;
        std::memset(space, 0, sizeof space);
        std::memcpy(space, &f.id, 4);
        std::memcpy(space + 4, &f.command, 2);
        space[6] = 0x90;
        space[7] = 0x02;
        space[8] = f.revision;
        space[9] = static_cast<uint8_t>(f.classCode);
        space[10] = static_cast<uint8_t>(f.classCode >> 8);
        space[11] = static_cast<uint8_t>(f.classCode >> 16);
        space[14] = f.headerType;
        std::memcpy(space + 44, &f.subsystem, 4);
    }
    uint32_t value = 0;
    std::memcpy(&value, space + reg, static_cast<size_t>(width));
    regs.ecx = width == 4 ? value : (regs.ecx & (width == 2 ? 0xFFFF0000u : 0xFFFFFF00u)) | value;
    Carry(regs, 0);
    return {};
}

CallOutcome SimulatedFirmware::PnpBios(std::vector<uint16_t>& w, RealModeMemory& memory) {
    if (w.empty()) return {false};
    char kind[16];
    std::snprintf(kind, sizeof kind, "pnp.%02X", w[0]);
    Injected fault = Inject(kind);
    if (fault.fail) return {false};
    if (fault.status) {
        w[0] = *fault.status;
        return {};
    }
    auto need = [&](size_t count) { return w.size() >= count; };
    auto ptr = [&](size_t i) { return Linear(w[i], w[i + 1]); };
    uint16_t function = w[0];
    uint16_t result = kPnpBadParameter;
    if (!profile_.pnp) {
        w[0] = kPnpUnknownFunction;
        return {};
    }
    const uint16_t maxCount = static_cast<uint16_t>(std::max<size_t>(8, profile_.ipl.size()));
    if (function == 0x00 && need(5)) {
        uint8_t count = static_cast<uint8_t>(profile_.nodes.size());
        uint16_t size = 14;
        result = memory.Write(ptr(1), &count, 1) && memory.Write(ptr(3), &size, 2) ? kOk : kPnpBadParameter;
    } else if (function == 0x01 && need(6)) {
        uint8_t number = 0;
        if (!memory.Read(ptr(1), &number, 1)) {
            w[0] = kPnpBadParameter;
            return {};
        }
        if (number >= profile_.nodes.size()) {
            w[0] = 0x83;  // invalid node number
            return {};
        }
        const PnpNode& n = profile_.nodes[number];
        Bytes node = {14, 0, number};
        Bytes id = EisaId(n.id);
        node.insert(node.end(), id.begin(), id.end());
        node.insert(node.end(), {n.classCode[0], n.classCode[1], n.classCode[2], 0x80, 0x01, 0x79, 0x00});
        uint8_t next = number + 1u < profile_.nodes.size() ? static_cast<uint8_t>(number + 1) : 0xFF;
        result = memory.Write(ptr(3), node.data(), node.size()) && memory.Write(ptr(1), &next, 1) ? kOk
                                                                                                  : kPnpBadParameter;
    } else if (function == 0x60 && need(3)) {
        result = memory.Write(ptr(1), &profile_.bbsVersion, 2) ? kOk : kPnpBadParameter;
    } else if (function == 0x61 && need(7)) {
        uint16_t count = static_cast<uint16_t>(profile_.ipl.size()), entrySize = 16;
        result = memory.Write(ptr(1), &count, 2) && memory.Write(ptr(3), &maxCount, 2) &&
                         memory.Write(ptr(5), &entrySize, 2)
                     ? kOk
                     : kPnpBadParameter;
    } else if (function == 0x62 && need(5)) {
        Bytes priority(maxCount, 0xFF);
        const Json& current = state_["ipl_priority"];
        for (size_t i = 0; i < current.size() && i < priority.size(); ++i) priority[i] = current[i].get<uint8_t>();
        Bytes table(16u * maxCount, 0);
        for (size_t i = 0; i < profile_.ipl.size(); ++i) {
            uint8_t* e = table.data() + 16 * i;
            std::memcpy(e, &profile_.ipl[i].deviceType, 2);
            uint32_t text = (0xF000u << 16) | static_cast<uint16_t>(kIplTexts - 0xF0000 + 32 * i);
            std::memcpy(e + 8, &text, 4);
        }
        result = memory.Write(ptr(1), priority.data(), priority.size()) &&
                         memory.Write(ptr(3), table.data(), table.size())
                     ? kOk
                     : kPnpBadParameter;
    } else if (function == 0x63 && need(3)) {
        Bytes priority(profile_.ipl.size(), 0);
        result = kPnpBadParameter;
        if (memory.Read(ptr(1), priority.data(), priority.size())) {
            Json order = Json::array();
            std::vector<bool> seen(profile_.ipl.size(), false);
            bool valid = true;
            for (uint8_t e : priority) {
                if (e == 0xFF) break;
                if (e >= seen.size() || seen[e])
                    valid = false;
                else
                    seen[e] = true, order.push_back(e);
            }
            if (valid && !order.empty()) {
                Set("ipl_priority", order);
                result = kOk;
            }
        }
    } else if (function != 0x00 && function != 0x01 && (function < 0x60 || function > 0x63)) {
        result = kPnpUnknownFunction;
    }
    w[0] = result;
    return {};
}

Bytes SimulatedFirmware::ReadRomArea(uint32_t address, uint32_t length) {
    if (Inject("physical").fail) return {};
    if (address < kRomAreaBase || address >= kRomAreaBase + kRomAreaSize) return {};
    if (romArea_.empty()) romArea_ = BuildRomArea(profile_);
    const Bytes& area = romArea_;
    size_t from = address - kRomAreaBase;
    size_t count = std::min<size_t>(length, area.size() - from);
    return Bytes(area.begin() + static_cast<long>(from), area.begin() + static_cast<long>(from + count));
}

std::optional<uint16_t> SimulatedFirmware::SystemIdentifier() {
    if (Inject("system-id").fail) return std::nullopt;
    return profile_.systemId;
}

uint32_t SimulatedFirmware::SystemInformationTableAddress() { return kSitAddress; }

std::optional<Bytes> SimulatedFirmware::SmbiosEntryPoint() {
    if (!profile_.smbios || Inject("smbios").fail) return std::nullopt;
    return SmbiosEntryPointBytes(profile_);
}

bool SimulatedFirmware::CpuSerialNumberSupported() { return profile_.cpuSerialNumber; }

uint8_t SimulatedFirmware::FlashWrite(const Bytes& image, const Bytes& password, CallOutcome& outcome) {
    Injected fault = Inject("flash.write");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (PasswordSet(kSetupPassword) && !PasswordIs(kSetupPassword, password)) return kWrongPassword;
    if (image.size() != profile_.flashSize) return kFlashSize;
    if (!ignoreWrites_) WriteFileAtomically(dir_ / "flash.bin", std::string(image.begin(), image.end()));
    return kOk;
}

uint8_t SimulatedFirmware::FlashRead(Bytes& out, uint32_t length, const Bytes& password, CallOutcome& outcome) {
    Injected fault = Inject("flash.read");
    if (fault.fail) return outcome.reached = false, kUnsupported;
    if (fault.status) return *fault.status;
    if (PasswordSet(kSetupPassword) && !PasswordIs(kSetupPassword, password)) return kWrongPassword;
    if (length > profile_.flashSize) return kFlashSize;
    std::string flash = ReadWholeFile(dir_ / "flash.bin");
    out.assign(flash.begin(), flash.begin() + std::min<size_t>(length, flash.size()));
    return kOk;
}

}  // namespace qv::machine
