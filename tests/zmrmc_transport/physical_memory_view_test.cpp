// The library's physical-memory window over the simulated machine, through the "ntdll.dll" section calls.

#include "physical_memory_view.h"
#include "qv_root_machine.h"
#include "qv_temp_root.h"
#include "windows.h"
#include "winternl.h"

#include <cstring>
#include <string>

namespace {

class PhysicalMemoryViewTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        setenv("QV_MACHINE", "desktop", 1);
        qv::win::ResetRootMachineForTesting();
    }
    void TearDown() override {
        unsetenv("QV_MACHINE");
        qv::win::ResetRootMachineForTesting();
        TempRootTest::TearDown();
    }
};

TEST_F(PhysicalMemoryViewTest, MapsAWholeBankAndUnalignedWindows) {
    zmrmc::PhysicalMemoryView bank;
    bank.Create(0xF0000, 0xFFFF);
    ASSERT_NE(bank.Address(), nullptr) << bank.ErrorText();
    EXPECT_STREQ(bank.ErrorText(), "No Error");
    EXPECT_EQ(std::memcmp(bank.Address() + 0x400, "_SM_", 4), 0);     // the SMBIOS entry point
    EXPECT_EQ(std::memcmp(bank.Address() + 0xFFEA, "BREVIK", 6), 0);  // the maker tag

    zmrmc::PhysicalMemoryView tag;
    tag.Create(0xFFFF5, 8);  // not on a page boundary: the address points into the rounded view
    ASSERT_NE(tag.Address(), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(tag.Address()), 8), "07/12/06");
    tag.Destroy();
    EXPECT_EQ(tag.Address(), nullptr);
    EXPECT_STREQ(tag.ErrorText(), "No Error");
}

TEST_F(PhysicalMemoryViewTest, WindowsPastPhysicalMemoryAreRefused) {
    zmrmc::PhysicalMemoryView view;
    view.Create(0xFFFF0, 0x100);
    EXPECT_EQ(view.Address(), nullptr);
    EXPECT_STREQ(view.ErrorText(), "Could not map view of FFFF0 length 100 (status = c000000d)");
}

// The section calls as a program resolves them: only "\Device\PhysicalMemory", only for reading.
TEST_F(PhysicalMemoryViewTest, NativeSectionCallsRefuseWritesAndOtherNames) {
    HMODULE ntdll = GetModuleHandleW(L"NTDLL.DLL");
    ASSERT_NE(ntdll, nullptr);
    auto init = reinterpret_cast<RtlInitUnicodeStringFn>(GetProcAddress(ntdll, "RtlInitUnicodeString"));
    auto open = reinterpret_cast<NtOpenSectionFn>(GetProcAddress(ntdll, "NtOpenSection"));
    auto map = reinterpret_cast<NtMapViewOfSectionFn>(GetProcAddress(ntdll, "NtMapViewOfSection"));
    auto unmap = reinterpret_cast<NtUnmapViewOfSectionFn>(GetProcAddress(ntdll, "NtUnmapViewOfSection"));
    auto toDos = reinterpret_cast<RtlNtStatusToDosErrorFn>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
    ASSERT_TRUE(init && open && map && unmap && toDos);
    EXPECT_EQ(GetProcAddress(ntdll, "NtCreateFile"), nullptr);

    UNICODE_STRING name;
    OBJECT_ATTRIBUTES attributes;
    HANDLE section = nullptr;
    init(&name, L"\\device\\physicalmemory");
    InitializeObjectAttributes(&attributes, &name, 0, nullptr, nullptr);
    EXPECT_EQ(open(&section, SECTION_MAP_READ, &attributes), STATUS_OBJECT_NAME_NOT_FOUND);  // case matters
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    EXPECT_EQ(open(&section, SECTION_MAP_READ | SECTION_MAP_WRITE, &attributes), STATUS_ACCESS_DENIED);
    ASSERT_EQ(open(&section, SECTION_MAP_READ, &attributes), STATUS_SUCCESS);

    LARGE_INTEGER offset;
    offset.QuadPart = 0xF0000;
    SIZE_T size = 0x1000;
    void* base = nullptr;
    EXPECT_EQ(map(section, GetCurrentProcess(), &base, 0, 0, &offset, &size, ViewShare, 0, 0x04 /*PAGE_READWRITE*/),
              STATUS_INVALID_PAGE_PROTECTION);
    ASSERT_EQ(map(section, GetCurrentProcess(), &base, 0, 0, &offset, &size, ViewShare, 0, PAGE_READONLY),
              STATUS_SUCCESS);
    EXPECT_EQ(unmap(GetCurrentProcess(), static_cast<char*>(base) + 1), STATUS_NOT_MAPPED_VIEW);
    EXPECT_EQ(unmap(GetCurrentProcess(), base), STATUS_SUCCESS);
    EXPECT_TRUE(CloseHandle(section));
    EXPECT_EQ(toDos(STATUS_ACCESS_DENIED), static_cast<ULONG>(ERROR_ACCESS_DENIED));
}

}  // namespace
