// The library's firmware call gate and its SMBIOS instrumentation source, through the WMI locator of the COM
// runtime's in-process class table, against the kernel-data provider and the simulated machine.

#include "firmware_access.h"
#include "firmware_call_gate.h"
#include "in_process_wmi.h"
#include "qv_com_runtime.h"
#include "qv_firmware.h"
#include "qv_root_machine.h"
#include "qv_temp_root.h"
#include "smbios_instrumentation.h"
#include "smbios_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

using qv::test::ComPtr;
using qv::test::Faults;
using qv::test::Locator;
using qv::test::Make;

class CallGateTest : public TempRootTest {
protected:
    void Use(const std::string& profile) {
        setenv("QV_MACHINE", profile.c_str(), 1);
        qv::win::ResetRootMachineForTesting();
        auto repository = qv::wbem::Repository::OpenDefault();  // creates root\WMI for this machine
        ASSERT_TRUE(repository);
    }
    void Register() {
        locator_ = Make<Locator>(&faults_);
        ASSERT_EQ(
            qv::com::RegisterPlatformClass(CLSID_WbemLocator, Make<qv::test::LocatorFactory>(locator_.Get()).Get()),
            S_OK);
    }
    void TearDown() override {
        qv::com::UnregisterPlatformClass(CLSID_WbemLocator);
        locator_.Reset();
        unsetenv("QV_MACHINE");
        qv::win::ResetRootMachineForTesting();
        TempRootTest::TearDown();
    }
    std::vector<std::wstring> Calls() const {
        return locator_ && locator_->lastServices ? locator_->lastServices->calls : std::vector<std::wstring>{};
    }
    Faults faults_;
    ComPtr<Locator> locator_;
};

uint32_t Checksum(const uint8_t* b, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; i += 4)
        sum += static_cast<uint32_t>(b[i] | (b[i + 1] << 8) | (b[i + 2] << 16) | (b[i + 3] << 24));
    return sum;
}

TEST_F(CallGateTest, PasswordStateCallBuildsTheRecordAndUsesTheMethodForItsOutputSize) {
    ASSERT_NO_FATAL_FAILURE(Use("native-wmi"));
    ASSERT_NO_FATAL_FAILURE(Register());
    zmrmc::FirmwareCallGate gate;
    uint32_t status = 0xFFFF;
    uint8_t out[4] = {0xAA, 0xAA, 0xAA, 0xAA};
    ASSERT_EQ(gate.Call(0x20000, 5, 0, 4, &status, nullptr, out), S_OK);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out[0] & 2, 0);  // no setup password
    ASSERT_EQ(locator_->connects, std::vector<std::wstring>{L"\\\\.\\root\\WMI"});
    EXPECT_EQ(locator_->lastFlags, WBEM_FLAG_CONNECT_USE_MAX_WAIT);  // Windows XP
    std::vector<std::wstring> calls = Calls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], L"GetObject vrxBIntM");
    EXPECT_EQ(calls[1], L"GetObject vrxBDataIn");
    EXPECT_EQ(calls[2], L"CreateInstanceEnum vrxBIntM");
    EXPECT_EQ(calls[3].rfind(L"ExecMethod ", 0), 0u);
    EXPECT_NE(calls[3].find(L"vrxBIntM.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\""), std::wstring::npos) << calls[3];
    EXPECT_EQ(calls[3].substr(calls[3].size() - 12), L" vrxBIOSInt4");

    // The embedded input record.
    ComPtr<IWbemClassObject> in = locator_->lastServices->lastIn;
    ASSERT_NE(in, nullptr);
    CComVariant v;
    ASSERT_EQ(in->Get(L"InData", 0, &v, nullptr, nullptr), S_OK);
    ASSERT_EQ(V_VT(&v), VT_UNKNOWN);
    ComPtr<IWbemClassObject> record;
    V_UNKNOWN(&v)->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(record.GetAddressOf()));
    v.Clear();
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->Get(L"Sign", 0, &v, nullptr, nullptr), S_OK);
    void* sign = nullptr;
    SafeArrayAccessData(V_ARRAY(&v), &sign);
    EXPECT_EQ(std::memcmp(sign, "SECU", 4), 0);
    SafeArrayUnaccessData(V_ARRAY(&v));
    v.Clear();
    record->Get(L"Command", 0, &v, nullptr, nullptr);
    EXPECT_EQ(V_I4(&v), 0x20000);
    v.Clear();
    record->Get(L"CommandType", 0, &v, nullptr, nullptr);
    EXPECT_EQ(V_I4(&v), 5);

    // The connection is kept.
    ASSERT_EQ(gate.Call(0x20001, 1, 0, 0, &status, nullptr, nullptr), S_OK);
    EXPECT_EQ(locator_->connects.size(), 1u);
    EXPECT_EQ(Calls().back().substr(Calls().back().size() - 12), L" vrxBIOSInt0");
}

TEST_F(CallGateTest, WrongDataLengthGivesStatus3AndLeavesTheOutputAlone) {
    ASSERT_NO_FATAL_FAILURE(Use("native-wmi"));
    ASSERT_NO_FATAL_FAILURE(Register());
    zmrmc::FirmwareCallGate gate;
    uint32_t status = 0xFFFF;
    ASSERT_EQ(gate.Call(0x20001, 1, 0, 0, &status, nullptr, nullptr), S_OK);
    uint8_t read[44] = {0x00, 0x01, 0x00, 0x10, 0, 0, 0, 0, 0, 0, 0, 0};  // version 0x0100, 4096 bytes at 0
    std::vector<uint8_t> block(4096, 0xAA);
    faults_.dataDelta = -1;  // 4095 bytes for vrxBIOSInt4096
    status = 0xFFFF;
    EXPECT_EQ(gate.Call(0x20001, 4, sizeof read, 4096, &status, read, block.data()), S_OK);
    EXPECT_EQ(status, zmrmc::kGateWrongLength);
    EXPECT_EQ(block, std::vector<uint8_t>(4096, 0xAA));
    faults_.dataDelta = 0;
    faults_.dropReturnCode = true;  // no return code: the preset stays
    status = 0xFFFF;
    EXPECT_EQ(gate.Call(0x20001, 4, sizeof read, 4096, &status, read, block.data()), S_OK);
    EXPECT_EQ(status, 0xFFFFu);
    EXPECT_EQ(block[0], 0xFF);  // the erased flash part's first byte
}

TEST_F(CallGateTest, NoConnectionIsEFailAndTheNextCallConnects) {
    ASSERT_NO_FATAL_FAILURE(Use("native-wmi"));
    // No locator at all (the WMI library registers the real one in every program that links it).
    qv::com::UnregisterPlatformClass(CLSID_WbemLocator);
    zmrmc::FirmwareCallGate gate;
    uint32_t status = 0xFFFF;
    uint8_t out[4] = {};
    HRESULT hr = gate.Call(0x20000, 5, 0, 4, &status, nullptr, out);
    EXPECT_EQ(hr, E_FAIL);
    EXPECT_EQ(status, 0xFFFFu);
    EXPECT_EQ(zmrmc::GateStatus(hr, status), zmrmc::kGateTransportFailure);
    ASSERT_NO_FATAL_FAILURE(Register());
    EXPECT_EQ(gate.Call(0x20000, 5, 0, 4, &status, nullptr, out), S_OK);
    EXPECT_EQ(status, 0u);
}

TEST_F(CallGateTest, MachinesWithoutTheGateFailLikeAMissingClass) {
    ASSERT_NO_FATAL_FAILURE(Use("desktop"));
    ASSERT_NO_FATAL_FAILURE(Register());
    zmrmc::FirmwareCallGate gate;
    uint32_t status = 0xFFFF;
    uint8_t out[4] = {};
    HRESULT hr = gate.Call(0x20000, 5, 0, 4, &status, nullptr, out);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(status, 0xFFFFu);
    EXPECT_EQ(zmrmc::GateStatus(hr, status), 289u);
}

// A whole flash pass as the flash protocol runs it: information, write every block, end; then read back.
TEST_F(CallGateTest, FlashCommandsWriteTheMachinesFlashPart) {
    ASSERT_NO_FATAL_FAILURE(Use("native-wmi"));
    ASSERT_NO_FATAL_FAILURE(Register());
    zmrmc::FirmwareCallGate gate;
    uint32_t status = 0xFFFF;
    uint8_t info[34] = {}, answer[128] = {};
    ASSERT_EQ(gate.Call(0x20001, 3, sizeof info, sizeof answer, &status, info, answer), S_OK);
    ASSERT_EQ(status, 0u);
    uint32_t romSize, blockSize, version;
    std::memcpy(&romSize, answer, 4);
    std::memcpy(&blockSize, answer + 4, 4);
    std::memcpy(&version, answer + 8, 4);
    EXPECT_EQ(version & 0xFFFF, 0x0100u);
    ASSERT_EQ(blockSize, 4096u);
    ASSERT_EQ(romSize % blockSize, 0u);

    std::vector<uint8_t> image(romSize);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
    ASSERT_EQ(gate.Call(0x20001, 1, 0, 0, &status, nullptr, nullptr), S_OK);
    ASSERT_EQ(status, 0u);
    for (uint32_t offset = 0; offset < romSize; offset += blockSize) {
        std::vector<uint8_t> request(16 + blockSize, 0);
        request[0] = 0x00;
        request[1] = 0x01;
        std::memcpy(&request[2], &blockSize, 4);
        std::memcpy(&request[6], &offset, 4);
        uint32_t sum = Checksum(image.data() + offset, blockSize);
        std::memcpy(&request[10], &sum, 4);
        std::memcpy(&request[16], image.data() + offset, blockSize);
        if (offset == 0) {
            request[10] ^= 1;  // a wrong checksum is refused
            ASSERT_EQ(gate.Call(0x20001, 5, static_cast<uint32_t>(request.size()), 0, &status, request.data(), nullptr),
                      S_OK);
            EXPECT_NE(status, 0u);
            request[10] ^= 1;
        }
        status = 0xFFFF;
        ASSERT_EQ(gate.Call(0x20001, 5, static_cast<uint32_t>(request.size()), 0, &status, request.data(), nullptr),
                  S_OK);
        ASSERT_EQ(status, 0u) << offset;
    }
    ASSERT_EQ(gate.Call(0x20001, 2, 0, 0, &status, nullptr, nullptr), S_OK);
    ASSERT_EQ(status, 0u);

    // Read back block by block.
    ASSERT_EQ(gate.Call(0x20001, 1, 0, 0, &status, nullptr, nullptr), S_OK);
    for (uint32_t offset = 0; offset < romSize; offset += blockSize) {
        uint8_t read[44] = {0x00, 0x01};
        std::memcpy(read + 2, &blockSize, 4);
        std::memcpy(read + 6, &offset, 4);
        std::vector<uint8_t> block(4096);
        status = 0xFFFF;
        ASSERT_EQ(gate.Call(0x20001, 4, sizeof read, 4096, &status, read, block.data()), S_OK);
        ASSERT_EQ(status, 0u);
        ASSERT_EQ(std::memcmp(block.data(), image.data() + offset, blockSize), 0) << offset;
    }
    ASSERT_EQ(gate.Call(0x20001, 2, 0, 0, &status, nullptr, nullptr), S_OK);
}

TEST_F(CallGateTest, InstrumentationSourceDeliversTheRawTable) {
    ASSERT_NO_FATAL_FAILURE(Use("laptop-legacy"));
    ASSERT_NO_FATAL_FAILURE(Register());
    zmrmc::SmbiosStore store(zmrmc::ReadRawSmbiosTables, nullptr);  // no physical-memory fallback
    ASSERT_TRUE(store.Available());
    EXPECT_TRUE(store.VersionAtLeast(2, 3));
    EXPECT_FALSE(store.VersionAtLeast(2, 4));
    zmrmc::SmbiosStore::Structure system;
    ASSERT_TRUE(store.Find(1, 0, &system));
    EXPECT_EQ(store.StringAt(system, 5), "Brevik nc6000");
    EXPECT_EQ(Calls(), std::vector<std::wstring>{L"ExecQuery WQL select * from MSSmBios_RawSMBiosTables"});
}

// x64: no driver can be installed; SMBIOS (through the instrumentation) makes the firmware reachable, and the
// setup password state comes through the gate.
TEST_F(CallGateTest, WithoutADriverSmbiosAndTheGateStillAnswer) {
    std::string profile = root_.string() + "-x64.json";
    std::string text = qv::machine::ShippedProfile("x64");
    text.insert(text.rfind('}'), R"(, "passwords": {"setup": "1E30"})");
    std::ofstream(profile) << text;
    ASSERT_NO_FATAL_FAILURE(Use(profile));
    ASSERT_NO_FATAL_FAILURE(Register());
    {
        zmrmc::FirmwareAccess firmware(zmrmc::ReadRawSmbiosTables);
        firmware.Open(false, true);
        EXPECT_FALSE(firmware.DriverOpen());
        EXPECT_TRUE(firmware.Reachable());
        EXPECT_EQ(firmware.Identity().system_id, 0x2A10);
        EXPECT_EQ(firmware.Identity().product_name, "Brevik xw4400 Workstation");
        EXPECT_FALSE(firmware.Identity().portable);
        EXPECT_EQ(firmware.Names().board_product, "2A10H");
        EXPECT_EQ(firmware.SerialNumber(), "CZJ7400001");
        EXPECT_TRUE(firmware.SetupPasswordSet());
    }
    std::remove(profile.c_str());
}

}  // namespace
