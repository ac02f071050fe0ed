#include "system_detection.h"

#include "firmware_access.h"
#include "os_identity.h"

#include <cstdio>
#include <cstring>

namespace zmrmc {
namespace {

constexpr DWORD kDeviceWaitMs = 32;  // the firmware needs a pause after each device it reported

}  // namespace

std::string EisaIdText(const uint8_t id[4]) {
    char letters[4];
    if (id[0] == 0x10 && id[1] == 0x4C) {
        std::memcpy(letters, "TI ", 4);
    } else {
        letters[0] = static_cast<char>('A' - 1 + ((id[0] >> 2) & 0x1F));
        letters[1] = static_cast<char>('A' - 1 + (((id[0] & 3) << 3) | (id[1] >> 5)));
        letters[2] = static_cast<char>('A' - 1 + (id[1] & 0x1F));
        letters[3] = 0;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%s%02X%02X", letters, id[2], id[3]);
    return text;
}

FoundDevice PciDevice(uint32_t id, uint32_t command, uint32_t classRevision, uint32_t subsystem) {
    FoundDevice d;
    uint8_t base = static_cast<uint8_t>(classRevision >> 24);
    d.source = 1;
    d.device_id = id;
    d.subsystem = subsystem;
    d.class_bit = 1u << (base % 32);
    d.class_detail = static_cast<uint16_t>(classRevision >> 8);  // sub-class high, interface low
    d.revision = static_cast<uint16_t>(classRevision);
    if ((command & 3) == 0)
        d.state = 1;
    else if (base == 3)
        d.state = 2;
    return d;
}

SystemDetection::SystemDetection(FirmwareAccess& firmware) : firmware_(firmware) {
    OsCodes codes = ComputeOsCodes(CurrentOsFacts());
    os_code_ = codes.os;
    language_ = codes.language;
    service_release_ = codes.serviceRelease;
}

SystemDetection::~SystemDetection() {
    if (scratch_segment_ != 0) firmware_.Transport().ReleaseMemory(scratch_segment_);
}

uint32_t SystemDetection::Detect() {
    if (!firmware_.DriverOpen()) return ZMRMC_E_DETECT;
    int expected = kNeverScanned;
    if (!state_.compare_exchange_strong(expected, kScanning)) {
        expected = kScanned;
        if (!state_.compare_exchange_strong(expected, kScanning)) return ZMRMC_E_DETECT;
    }
    found_.clear();
    class_found_ = 0;
    if (!scratch_tried_) {
        scratch_tried_ = true;
        scratch_ = std::make_unique<SharedBuffer>(8);
        if (scratch_->ok()) scratch_segment_ = firmware_.Transport().GrantMemory(scratch_->Address(), 8);
    }
    if (scratch_segment_ != 0) {
        ScanPci();
        ScanPnp();
    }
    state_ = kScanned;
    return 0;
}

bool SystemDetection::Keep(const FoundDevice& device) {
    if ((device.class_bit & class_mask_) == 0) return false;
    found_.push_back(device);
    class_found_ |= device.class_bit;
    return true;
}

void SystemDetection::ScanPci() {
    DriverTransport& t = firmware_.Transport();
    ZmrMCRegisterBlock regs{};
    regs.eax = 0xB101;
    if (!t.PciBios(&regs)) return;
    unsigned lastBus = regs.ecx & 0xFF;
    auto read = [&](unsigned bus, unsigned devfn, uint16_t reg, uint32_t* value) {
        ZmrMCRegisterBlock r{};
        r.eax = 0xB10A;
        r.ebx = (bus << 8) | devfn;
        r.edi = reg;
        if (!t.PciBios(&r)) return false;
        *value = r.ecx;
        return true;
    };
    for (unsigned bus = 0; bus <= lastBus; ++bus) {
        for (unsigned device = 0; device < 32; ++device) {
            for (unsigned function = 0; function < 8; ++function) {
                unsigned devfn = (device << 3) | function;
                uint32_t id = 0, command = 0, classRevision = 0, header = 0, subsystem = 0;
                if (!read(bus, devfn, 0, &id) || id == 0xFFFFFFFF) {
                    if (function == 0) break;
                    continue;
                }
                bool complete = read(bus, devfn, 4, &command) && read(bus, devfn, 8, &classRevision) &&
                                read(bus, devfn, 12, &header) && read(bus, devfn, 44, &subsystem);
                Sleep(kDeviceWaitMs);
                if (complete) Keep(PciDevice(id, command, classRevision, subsystem));
                if (function == 0 && (!complete || (header & 0x00800000) == 0)) break;  // single-function
            }
        }
    }
}

void SystemDetection::ScanPnp() {
    DriverTransport& t = firmware_.Transport();
    uint8_t* scratch = scratch_->data();
    std::memset(scratch, 0, 8);
    uint16_t seg = scratch_segment_;
    // Function 00h: number of nodes (byte at scratch 0) and largest node size (word at scratch 2).
    uint16_t count[] = {0x00, 0, seg, 2, seg, 0};
    if (!t.PnpBios(count, std::size(count))) return;
    unsigned nodes = scratch[0];
    uint32_t size = static_cast<uint32_t>(scratch[2] | (scratch[3] << 8));
    if (nodes == 0 || size < 12) return;
    SharedBuffer node(size);
    if (!node.ok()) return;
    uint16_t nodeSeg = t.GrantMemory(node.Address(), size);
    if (nodeSeg == 0) return;
    for (unsigned number = 0; number < nodes; ++number) {
        scratch[4] = static_cast<uint8_t>(number);
        uint16_t get[] = {0x01, 4, seg, 0, nodeSeg, 1, 0};
        if (!t.PnpBios(get, std::size(get))) continue;
        Sleep(kDeviceWaitMs);
        const uint8_t* n = node.data();
        FoundDevice d;
        d.source = 2;
        d.identifier = EisaIdText(n + 3);
        d.device_id = static_cast<uint32_t>(n[3]) | (static_cast<uint32_t>(n[4]) << 8) |
                      (static_cast<uint32_t>(n[5]) << 16) | (static_cast<uint32_t>(n[6]) << 24);
        d.class_bit = 1u << (n[7] % 32);
        d.class_detail = static_cast<uint16_t>(n[9] | (n[8] << 8));
        Keep(d);
    }
    t.ReleaseMemory(nodeSeg);
}

bool SystemDetection::FoundAt(int index, ZmrMCFoundDevice* out) const {
    if (out == nullptr || index < 0 || static_cast<size_t>(index) >= found_.size()) return false;
    const FoundDevice& d = found_[static_cast<size_t>(index)];
    std::memset(out, 0, sizeof *out);
    std::memcpy(out->identifier, d.identifier.data(), std::min<size_t>(d.identifier.size() + 1, 8));
    if (d.identifier.empty()) std::memset(out->identifier, 0, 8);
    uint32_t fields[6] = {d.state, d.class_bit, d.source, d.device_id, d.subsystem, d.reserved};
    std::memcpy(out->fields, fields, sizeof fields);
    out->words[0] = d.class_detail;
    out->words[1] = d.revision;
    return true;
}

}  // namespace zmrmc
