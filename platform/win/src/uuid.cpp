// Sequential (version 1) UUIDs and their text form.

#include "rpc.h"
#include "windows.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

namespace {

std::mutex uuid_mutex;
uint64_t last_timestamp = 0;
uint16_t clock_sequence = 0;
uint8_t node[6];
bool seeded = false;

// 100-ns intervals since 1582-10-15, the UUID epoch.
uint64_t UuidTimestamp() {
    constexpr uint64_t kGregorianOffset = 0x01B21DD213814000ull;
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100) +
           kGregorianOffset;
}

template <typename Char>
RPC_STATUS Format(const UUID* uuid, Char** text) {
    if (uuid == nullptr || text == nullptr) return RPC_S_INVALID_ARG;
    char narrow[37];
    std::snprintf(narrow, sizeof narrow, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", uuid->Data1, uuid->Data2,
                  uuid->Data3, uuid->Data4[0], uuid->Data4[1], uuid->Data4[2], uuid->Data4[3], uuid->Data4[4],
                  uuid->Data4[5], uuid->Data4[6], uuid->Data4[7]);
    auto* out = static_cast<Char*>(std::malloc(sizeof(Char) * 37));
    if (out == nullptr) return RPC_S_OUT_OF_MEMORY;
    for (int i = 0; i < 37; ++i) out[i] = static_cast<Char>(narrow[i]);
    *text = out;
    return RPC_S_OK;
}

}  // namespace

RPC_STATUS UuidCreateSequential(UUID* uuid) {
    if (uuid == nullptr) return RPC_S_INVALID_ARG;
    std::lock_guard lock(uuid_mutex);
    if (!seeded) {
        std::random_device random;
        for (auto& b : node) b = static_cast<uint8_t>(random());
        node[0] |= 0x01;  // multicast bit: a random node, not a hardware address
        clock_sequence = static_cast<uint16_t>(random() & 0x3FFF);
        seeded = true;
    }
    uint64_t timestamp = UuidTimestamp();
    // Never repeat or go back: several UUIDs within one clock tick take the following intervals.
    if (timestamp <= last_timestamp) timestamp = last_timestamp + 1;
    last_timestamp = timestamp;
    uuid->Data1 = static_cast<DWORD>(timestamp & 0xFFFFFFFF);
    uuid->Data2 = static_cast<WORD>((timestamp >> 32) & 0xFFFF);
    uuid->Data3 = static_cast<WORD>(((timestamp >> 48) & 0x0FFF) | 0x1000);
    uuid->Data4[0] = static_cast<BYTE>(((clock_sequence >> 8) & 0x3F) | 0x80);
    uuid->Data4[1] = static_cast<BYTE>(clock_sequence & 0xFF);
    std::memcpy(uuid->Data4 + 2, node, 6);
    return RPC_S_UUID_LOCAL_ONLY;
}

RPC_STATUS UuidToStringW(const UUID* uuid, RPC_WSTR* text) { return Format(uuid, text); }
RPC_STATUS UuidToStringA(const UUID* uuid, RPC_CSTR* text) { return Format(uuid, text); }

RPC_STATUS RpcStringFreeW(RPC_WSTR* text) {
    if (text == nullptr) return RPC_S_INVALID_ARG;
    std::free(*text);
    *text = nullptr;
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeA(RPC_CSTR* text) {
    if (text == nullptr) return RPC_S_INVALID_ARG;
    std::free(*text);
    *text = nullptr;
    return RPC_S_OK;
}
