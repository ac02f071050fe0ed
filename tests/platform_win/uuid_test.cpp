#include "rpc.h"

#include <gtest/gtest.h>

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
    // xxxxxxxx-xxxx-1xxx-yxxx-xxxxxxxxxxxx: lower-case hexadecimal, version 1, variant bits 10.
    ASSERT_EQ(text.size(), 36u);
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            EXPECT_EQ(text[i], L'-');
        else
            EXPECT_TRUE((text[i] >= L'0' && text[i] <= L'9') || (text[i] >= L'a' && text[i] <= L'f')) << i;
    }
    EXPECT_EQ(text[14], L'1');
    EXPECT_NE(std::wstring(L"89ab").find(text[19]), std::wstring::npos);
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
