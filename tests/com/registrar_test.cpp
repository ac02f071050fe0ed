// The registrar: scripts applied and removed exactly, replacements, resources and bad scripts.

#include "atlbase.h"
#include "oaidl.h"
#include "objbase.h"
#include "qv_temp_root.h"
#include "statreg.h"
#include "windows.h"
#include "winreg.h"
#include "wrl/client.h"

namespace {

const wchar_t kClassScript[] =
    LR"(HKCR
{
	VrxBIOS.BIOSInterface.1 = s 'BIOSInterface Class'
	{
		CLSID = s '{D7B353ED-CF58-4BAF-807B-6EA01360D51F}'
	}
	VrxBIOS.BIOSInterface = s 'BIOSInterface Class'
	{
		CLSID = s '{D7B353ED-CF58-4BAF-807B-6EA01360D51F}'
		CurVer = s 'VrxBIOS.BIOSInterface.1'
	}
	NoRemove CLSID
	{
		ForceRemove {D7B353ED-CF58-4BAF-807B-6EA01360D51F} = s 'BIOSInterface Class'
		{
			ProgID = s 'VrxBIOS.BIOSInterface.1'
			VersionIndependentProgID = s 'VrxBIOS.BIOSInterface'
			LocalServer32 = s '%MODULE%'
			val AppID = s '{D0407B6E-B15A-4849-8E2D-F37E94438541}'
			'TypeLib' = s '{358A287F-7187-4394-B773-5A7C275020DA}'
			val Flags = d '16'
		}
	}
})";

class RegistrarTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar,
                                   reinterpret_cast<void**>(registrar_.GetAddressOf())),
                  S_OK);
    }
    void TearDown() override {
        registrar_.Reset();  // before COM goes
        CoUninitialize();
        TempRootTest::TearDown();
    }
    static bool Exists(const std::wstring& path) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }
    static std::wstring Text(const std::wstring& path, LPCWSTR name = nullptr) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return L"<no key>";
        wchar_t buffer[300] = {};
        DWORD size = sizeof(buffer);
        LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? buffer : L"<no value>";
    }
    Microsoft::WRL::ComPtr<IRegistrar> registrar_;
};

const std::wstring kClass = L"CLSID\\{D7B353ED-CF58-4BAF-807B-6EA01360D51F}";

TEST_F(RegistrarTest, RegistersAndRemovesExactly) {
    registrar_->AddReplacement(L"MODULE", L"C:\\PROGRA~1\\QV\\VRXBIOS.EXE");
    ASSERT_EQ(registrar_->StringRegister(kClassScript), S_OK);
    EXPECT_EQ(Text(kClass), L"BIOSInterface Class");
    EXPECT_EQ(Text(kClass + L"\\LocalServer32"), L"C:\\PROGRA~1\\QV\\VRXBIOS.EXE");
    EXPECT_EQ(Text(kClass, L"AppID"), L"{D0407B6E-B15A-4849-8E2D-F37E94438541}");
    EXPECT_EQ(Text(kClass + L"\\TypeLib"), L"{358A287F-7187-4394-B773-5A7C275020DA}");
    EXPECT_EQ(Text(L"VrxBIOS.BIOSInterface\\CurVer"), L"VrxBIOS.BIOSInterface.1");
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(L"VrxBIOS.BIOSInterface.1", &clsid), S_OK);
    EXPECT_EQ(clsid.Data1, 0xD7B353EDu);

    // ForceRemove: a stray subkey of the class disappears when the class is registered again.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClass + L"\\Stray").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(registrar_->StringRegister(kClassScript), S_OK);
    EXPECT_FALSE(Exists(kClass + L"\\Stray"));

    // A neighbour under the NoRemove key stays, and so does the NoRemove key itself.
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-0000-0000-0000-000000000001}", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    ASSERT_EQ(registrar_->StringUnregister(kClassScript), S_OK);
    EXPECT_FALSE(Exists(kClass));
    EXPECT_FALSE(Exists(L"VrxBIOS.BIOSInterface.1"));
    EXPECT_FALSE(Exists(L"VrxBIOS.BIOSInterface"));
    EXPECT_TRUE(Exists(L"CLSID"));
    EXPECT_TRUE(Exists(L"CLSID\\{00000000-0000-0000-0000-000000000001}"));
    EXPECT_EQ(CLSIDFromProgID(L"VrxBIOS.BIOSInterface", &clsid), CO_E_CLASSSTRING);
}

// The script comes from the test program's own REGISTRY resource; val entries under NoRemove keys go.
TEST_F(RegistrarTest, ResourceScriptWithReplacements) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    registrar_->AddReplacement(L"APPID", L"{D0407B6E-B15A-4849-8E2D-F37E94438541}");
    ASSERT_EQ(registrar_->ResourceRegisterSz(self, MAKEINTRESOURCEW(100), L"REGISTRY"), S_OK);
    EXPECT_EQ(Text(L"AppID\\{D0407B6E-B15A-4849-8E2D-F37E94438541}"), L"vrxBIOS");
    EXPECT_EQ(Text(L"AppID\\vrxBIOS.EXE", L"AppID"), L"{D0407B6E-B15A-4849-8E2D-F37E94438541}");
    ASSERT_EQ(registrar_->ResourceUnregister(self, 100, L"REGISTRY"), S_OK);
    EXPECT_TRUE(Exists(L"AppID"));
    EXPECT_FALSE(Exists(L"AppID\\vrxBIOS.EXE"));
    EXPECT_FALSE(Exists(L"AppID\\{D0407B6E-B15A-4849-8E2D-F37E94438541}"));
    EXPECT_EQ(registrar_->ResourceRegister(self, 999, L"REGISTRY"), HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
}

// Bad scripts change nothing.
TEST_F(RegistrarTest, BadScriptsChangeNothing) {
    const wchar_t* bad[] = {
        L"HKCR { A = s 'x' { B",                // unterminated
        L"HKXX { A }",                          // unknown root
        L"HKCR { A = q 'x' }",                  // unknown value type
        L"HKCR { A = s 'unterminated }",        // open quote
        L"HKCR { A = s '%UNKNOWN%' }",          // no such replacement
        L"HKCR { A = d 'notanumber' }",         // bad number
        L"HKCR { Good = s 'x' } HKCR { val }",  // error after a valid part
    };
    for (const wchar_t* script : bad) {
        EXPECT_EQ(registrar_->StringRegister(script), DISP_E_EXCEPTION) << script;
        EXPECT_FALSE(Exists(L"A"));
        EXPECT_FALSE(Exists(L"Good"));
    }
    registrar_->AddReplacement(L"Quote", L"it''s");
    ASSERT_EQ(registrar_->StringRegister(L"HKCR { Q = s '%quote% 100%%' }"), S_OK);
    EXPECT_EQ(Text(L"Q"), L"it's 100%");
}

}  // namespace

namespace {

// A type library from the program's TYPELIB resource is recorded under HKCR\TypeLib and removed again.
TEST_F(RegistrarTest, TypeLibraryRegistration) {
    wchar_t self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    Microsoft::WRL::ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(self, REGKIND_REGISTER, library.GetAddressOf()), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    CComBSTR name;
    ASSERT_EQ(library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(name, L"VRXBIOSLib");
    const std::wstring lib = L"TypeLib\\{358A287F-7187-4394-B773-5A7C275020DA}";
    EXPECT_EQ(Text(lib + L"\\1.0"), L"VRXBIOSLib");
    EXPECT_EQ(Text(lib + L"\\1.0\\0\\win32"), self);
    EXPECT_EQ(Text(L"Interface\\{CB71391E-505A-4278-A16C-AC3B516C4A6C}\\TypeLib"),
              L"{358A287F-7187-4394-B773-5A7C275020DA}");
    ASSERT_EQ(UnRegisterTypeLib(attributes->guid, 1, 0, 0, SYS_WIN32), S_OK);
    EXPECT_FALSE(Exists(lib));
    EXPECT_FALSE(Exists(L"Interface\\{CB71391E-505A-4278-A16C-AC3B516C4A6C}"));
    EXPECT_EQ(UnRegisterTypeLib(attributes->guid, 1, 0, 0, SYS_WIN32), TYPE_E_REGISTRYACCESS);
    library->ReleaseTLibAttr(attributes);
    EXPECT_EQ(LoadTypeLib(L"/nonexistent/lib.tlb", library.ReleaseAndGetAddressOf()), TYPE_E_CANTLOADLIBRARY);
}

}  // namespace
