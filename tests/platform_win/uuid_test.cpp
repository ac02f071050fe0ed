#include "rpc.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

namespace {

std::wstring Text(const UUID& uuid) {
    RPC_WSTR text = nullptr;
    EXPECT_EQ(UuidToStringW(&uuid, &text), RPC_S_OK);
    std::wstring result(text);
    RpcStringFreeW(&text);
    EXPECT_EQ(text, nullptr);
    return result;
}

TEST(SequentialUuid, LowerCaseWithoutBracesAndVersion1) {
    UUID uuid;
    EXPECT_EQ(UuidCreateSequential(&uuid), RPC_S_UUID_LOCAL_ONLY);
    std::wstring text = Text(uuid);
    EXPECT_TRUE(std::regex_match(text, std::wregex(L"[0-9a-f]{8}-[0-9a-f]{4}-1[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
        << std::string(text.begin(), text.end());
}

TEST(SequentialUuid, UniqueAndIncreasingEvenWithinOneClockTick) {
    std::set<std::wstring> seen;
    uint64_t last = 0;
    for (int i = 0; i < 10000; ++i) {
        UUID uuid;
        UuidCreateSequential(&uuid);
        uint64_t timestamp = (uint64_t{uuid.Data3 & 0x0FFFu} << 48) | (uint64_t{uuid.Data2} << 32) | uuid.Data1;
        ASSERT_GT(timestamp, last);
        last = timestamp;
        ASSERT_TRUE(seen.insert(Text(uuid)).second);
    }
}

}  // namespace
