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
        IWbemServices* provider = qv::test::NewProvider(L"\\\\.\\root\\WMI");
        ASSERT_NE(provider, nullptr);
        for (bool query : {false, true}) {
            auto* sink = new CollectingSink();
            BSTR cls = SysAllocString(L"MSSmBios_RawSMBiosTables");
            BSTR wql = SysAllocString(L"WQL"), text = SysAllocString(L"SELECT * FROM MSSmBios_RawSMBiosTables");
            if (query)
                EXPECT_EQ(provider->ExecQueryAsync(wql, text, 0, nullptr, sink), WBEM_S_NO_ERROR);
            else
                EXPECT_EQ(provider->CreateInstanceEnumAsync(cls, 0, nullptr, sink), WBEM_S_NO_ERROR);
            SysFreeString(cls);
            SysFreeString(wql);
            SysFreeString(text);
            ASSERT_TRUE(sink->done);
            EXPECT_EQ(sink->status, WBEM_S_NO_ERROR);
            ASSERT_EQ(sink->received.size(), 1u);
            IWbemClassObject* o = sink->received[0];
            VARIANT v;
            VariantInit(&v);
            ASSERT_EQ(o->Get(L"SmbiosMajorVersion", 0, &v, nullptr, nullptr), S_OK);
            EXPECT_EQ(V_UI1(&v), 2);
            VariantClear(&v);
            ASSERT_EQ(o->Get(L"Size", 0, &v, nullptr, nullptr), S_OK);
            std::vector<uint8_t> table = MachineTable();
            EXPECT_EQ(static_cast<size_t>(V_I4(&v)), table.size());
            VariantClear(&v);
            ASSERT_EQ(o->Get(L"SMBiosData", 0, &v, nullptr, nullptr), S_OK);
            ASSERT_EQ(V_VT(&v), VT_ARRAY | VT_UI1);
            void* data = nullptr;
            SafeArrayAccessData(V_ARRAY(&v), &data);
            EXPECT_EQ(std::memcmp(data, table.data(), table.size()), 0);
            SafeArrayUnaccessData(V_ARRAY(&v));
            VariantClear(&v);
            sink->Release();
        }
        // A query the provider cannot answer by itself is refused, not mis-answered.
        auto* sink = new CollectingSink();
        BSTR wql = SysAllocString(L"WQL"),
             text = SysAllocString(L"select * from MSSmBios_RawSMBiosTables where Size > 3");
        EXPECT_EQ(provider->ExecQueryAsync(wql, text, 0, nullptr, sink), WBEM_E_PROVIDER_NOT_CAPABLE);
        SysFreeString(wql);
        SysFreeString(text);
        sink->Release();
        provider->Release();
    }
}

// Without the firmware's call gate there is no vrxBIntM class: a call fails as for any missing class.
TEST_F(ProviderTest, MachinesWithoutTheGateHaveNoGateClasses) {
    ASSERT_NO_FATAL_FAILURE(Use("desktop"));
    qv::wbem::CimObject cls;
    EXPECT_EQ(repository_->GetClass(L"root\\WMI", L"MSSmBios_RawSMBiosTables", &cls), S_OK);
    EXPECT_EQ(repository_->GetClass(L"root\\WMI", L"vrxBIntM", &cls), WBEM_E_NOT_FOUND);
    IWbemServices* provider = qv::test::NewProvider(L"root\\WMI");
    ASSERT_NE(provider, nullptr);
    auto* sink = new CollectingSink();
    BSTR path = SysAllocString(L"vrxBIntM.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\""),
         method = SysAllocString(L"vrxBIOSInt4");
    provider->ExecMethodAsync(path, method, 0, nullptr, nullptr, sink);
    EXPECT_EQ(sink->status, WBEM_E_INVALID_CLASS);
    SysFreeString(path);
    SysFreeString(method);
    sink->Release();
    provider->Release();
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
        IWbemServices* provider = qv::test::NewProvider(L"root\\default");
        auto* sink = new CollectingSink();
        BSTR cls = SysAllocString(L"QVBIOS_BIOSSettingInterface");
        provider->CreateInstanceEnumAsync(cls, 0, nullptr, sink);
        EXPECT_EQ(sink->status, WBEM_S_NO_ERROR);
        EXPECT_EQ(sink->received.size(), count);
        SysFreeString(cls);
        sink->Release();
        provider->Release();
    }
}

TEST(InProcessProviders, TheKernelDataProviderIsListed) {
    const auto& providers = qv::wbem::InProcessProviders();
    ASSERT_EQ(providers.size(), 1u);
    EXPECT_TRUE(IsEqualGUID(*providers[0].clsid, qv::wbem::CLSID_WmiKernelDataProvider));
    IWbemServices* services = nullptr;
    ASSERT_EQ(providers[0].create(IID_IWbemServices, reinterpret_cast<void**>(&services)), S_OK);
    services->Release();
}

}  // namespace
