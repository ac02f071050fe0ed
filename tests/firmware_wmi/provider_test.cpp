// The WMI kernel-data provider called directly: raw SMBIOS tables, the call gate's presence, and the
// settings-interface object of machines that publish their settings natively.

#include "in_process_wmi.h"
#include "qv_firmware.h"
#include "qv_root_machine.h"
#include "qv_mof_compiler.h"
#include "qv_temp_root.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using qv::test::CollectingSink;
using qv::test::ComPtr;
using qv::test::Make;

class ProviderTest : public TempRootTest {
protected:
    void Use(const char* profile) {
        setenv("QV_MACHINE", profile, 1);
        qv::win::ResetRootMachineForTesting();
        HRESULT hr = S_OK;
        repository_ = qv::wbem::Repository::OpenDefault(&hr);
        ASSERT_TRUE(repository_) << std::hex << hr;
    }
    void TearDown() override {
        repository_.reset();
        unsetenv("QV_MACHINE");
        qv::win::ResetRootMachineForTesting();
        TempRootTest::TearDown();
    }
    std::unique_ptr<qv::wbem::Repository> repository_;
};

std::vector<uint8_t> MachineTable() {
    std::vector<uint8_t> table;
    qv::win::RootMachine()->Transact([&](qv::machine::Firmware& f) {
        auto entry = f.SmbiosEntryPoint();
        if (!entry) return;
        uint32_t address;
        std::memcpy(&address, entry->data() + 0x18, 4);
        table = f.ReadRomArea(address, static_cast<uint32_t>((*entry)[0x16] | ((*entry)[0x17] << 8)));
    });
    return table;
}

TEST_F(ProviderTest, RawSmbiosTablesAreTheMachinesTable) {
    for (const char* profile : {"desktop", "laptop-legacy"}) {
        SCOPED_TRACE(profile);
        TearDown();
        SetUp();
        ASSERT_NO_FATAL_FAILURE(Use(profile));
        ComPtr<IWbemServices> provider = qv::test::NewProvider(L"\\\\.\\root\\WMI");
        ASSERT_NE(provider, nullptr);
        for (bool query : {false, true}) {
            ComPtr<CollectingSink> sink = Make<CollectingSink>();
            if (query)
                EXPECT_EQ(
                    provider->ExecQueryAsync(CComBSTR(L"WQL"), CComBSTR(L"SELECT * FROM MSSmBios_RawSMBiosTables"), 0,
                                             nullptr, sink.Get()),
                    WBEM_S_NO_ERROR);
            else
                EXPECT_EQ(
                    provider->CreateInstanceEnumAsync(CComBSTR(L"MSSmBios_RawSMBiosTables"), 0, nullptr, sink.Get()),
                    WBEM_S_NO_ERROR);
            ASSERT_TRUE(sink->done);
            EXPECT_EQ(sink->status, WBEM_S_NO_ERROR);
            ASSERT_EQ(sink->received.size(), 1u);
            IWbemClassObject* o = sink->received[0].Get();
            CComVariant v;
            ASSERT_EQ(o->Get(L"SmbiosMajorVersion", 0, &v, nullptr, nullptr), S_OK);
            EXPECT_EQ(V_UI1(&v), 2);
            v.Clear();
            ASSERT_EQ(o->Get(L"Size", 0, &v, nullptr, nullptr), S_OK);
            std::vector<uint8_t> table = MachineTable();
            EXPECT_EQ(static_cast<size_t>(V_I4(&v)), table.size());
            v.Clear();
            ASSERT_EQ(o->Get(L"SMBiosData", 0, &v, nullptr, nullptr), S_OK);
            ASSERT_EQ(V_VT(&v), VT_ARRAY | VT_UI1);
            void* data = nullptr;
            SafeArrayAccessData(V_ARRAY(&v), &data);
            EXPECT_EQ(std::memcmp(data, table.data(), table.size()), 0);
            SafeArrayUnaccessData(V_ARRAY(&v));
        }
        // A query the provider cannot answer by itself is refused, not mis-answered.
        ComPtr<CollectingSink> sink = Make<CollectingSink>();
        EXPECT_EQ(provider->ExecQueryAsync(CComBSTR(L"WQL"),
                                           CComBSTR(L"select * from MSSmBios_RawSMBiosTables where Size > 3"), 0,
                                           nullptr, sink.Get()),
                  WBEM_E_PROVIDER_NOT_CAPABLE);
    }
}

// Without the firmware's call gate there is no vrxBIntM class: a call fails as for any missing class.
TEST_F(ProviderTest, MachinesWithoutTheGateHaveNoGateClasses) {
    ASSERT_NO_FATAL_FAILURE(Use("desktop"));
    qv::wbem::CimObject cls;
    EXPECT_EQ(repository_->GetClass(L"root\\WMI", L"MSSmBios_RawSMBiosTables", &cls), S_OK);
    EXPECT_EQ(repository_->GetClass(L"root\\WMI", L"vrxBIntM", &cls), WBEM_E_NOT_FOUND);
    ComPtr<IWbemServices> provider = qv::test::NewProvider(L"root\\WMI");
    ASSERT_NE(provider, nullptr);
    ComPtr<CollectingSink> sink = Make<CollectingSink>();
    provider->ExecMethodAsync(CComBSTR(L"vrxBIntM.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\""), CComBSTR(L"vrxBIOSInt4"),
                              0, nullptr, nullptr, sink.Get());
    EXPECT_EQ(sink->status, WBEM_E_INVALID_CLASS);
}

// The settings-interface object exists once the firmware classes are compiled, and only where the firmware
// publishes its settings.
TEST_F(ProviderTest, NativeMachinesPublishTheSettingsInterface) {
    for (const auto& [profile, count] : {std::pair{"native-wmi", 1u}, std::pair{"x64", 0u}}) {
        SCOPED_TRACE(profile);
        TearDown();
        SetUp();
        ASSERT_NO_FATAL_FAILURE(Use(profile));
        qv::wbem::MofOptions options;
        options.defaultNamespace = L"root\\default";
        ASSERT_TRUE(qv::wbem::CompileMofText(
                        L"[WMI, Dynamic, Provider(\"Provider_BIOSInterface\")] class QVBIOS_BIOSSettingInterface "
                        L"{ [key, read] string InstanceName; [read] boolean Active; };",
                        "fw.mof", *repository_, options)
                        .ok);
        ComPtr<IWbemServices> provider = qv::test::NewProvider(L"root\\default");
        ASSERT_NE(provider, nullptr);
        ComPtr<CollectingSink> sink = Make<CollectingSink>();
        provider->CreateInstanceEnumAsync(CComBSTR(L"QVBIOS_BIOSSettingInterface"), 0, nullptr, sink.Get());
        EXPECT_EQ(sink->status, WBEM_S_NO_ERROR);
        EXPECT_EQ(sink->received.size(), count);
    }
}

TEST(InProcessProviders, TheKernelDataProviderIsListed) {
    const auto& providers = qv::wbem::InProcessProviders();
    ASSERT_EQ(providers.size(), 1u);
    EXPECT_TRUE(IsEqualGUID(*providers[0].clsid, qv::wbem::CLSID_WmiKernelDataProvider));
    ComPtr<IWbemServices> services;
    ASSERT_EQ(providers[0].create(IID_IWbemServices, reinterpret_cast<void**>(services.GetAddressOf())), S_OK);
    EXPECT_NE(services, nullptr);
}

}  // namespace
