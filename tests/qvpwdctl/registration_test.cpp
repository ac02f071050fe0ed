// qvpwdctl's switches: registration and removal of the class and the type library in the system root.

#include "dialog_fixture.h"
#include "server_registration.h"
#include "windows.h"
#include "winreg.h"

namespace {

class RegistrationTest : public TempRootTest {
protected:
    int Program(const std::vector<std::string>& args) {
        std::vector<std::string> line{BuildTree() + "/bin/qvpwdctl"};
        line.insert(line.end(), args.begin(), args.end());
        return WaitChild(StartChild(line, root_ / "out", root_ / "err", {"DISPLAY"}), std::chrono::seconds(60));
    }
    static std::wstring Value(const std::wstring& key, const wchar_t* name = nullptr) {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return L"(none)";
        wchar_t buffer[1024] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t);
        LONG rc = RegQueryValueExW(opened, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(opened);
        return rc == ERROR_SUCCESS ? buffer : L"(no value)";
    }
    static std::wstring Program() { return qv::win::FromUtf8(BuildTree() + "/bin/qvpwdctl"); }
};

const wchar_t kClass[] = L"CLSID\\{3BE691DD-D30E-4D30-A04A-C0A8A0F61976}";
const wchar_t kLibrary[] = L"TypeLib\\{96BBFC9C-E3D8-48FE-95B6-24E0B96703B3}\\1.0";
const wchar_t kInterface[] = L"Interface\\{CB71391E-505A-4278-A16C-AC3B516C4A6C}";

TEST_F(RegistrationTest, SwitchesRegisterAndRemoveClassAndTypeLibrary) {
    const struct {
        const char* add;
        const char* remove;
    } forms[] = {{"-RegServer", "-UnregServer"}, {"/install", "/uninstall"}, {"-INSTALLNOW", "/UnRegServer"}};
    for (const auto& form : forms) {
        SCOPED_TRACE(form.add);
        ASSERT_EQ(Program({form.add}), 0);
        EXPECT_EQ(Value(L"qvPwdCtl.PasswordEdit\\CLSID"), L"{3BE691DD-D30E-4D30-A04A-C0A8A0F61976}");
        EXPECT_EQ(Value(std::wstring(kClass) + L"\\LocalServer32"), Program());
        EXPECT_EQ(Value(std::wstring(kClass) + L"\\TypeLib"), L"{96BBFC9C-E3D8-48FE-95B6-24E0B96703B3}");
        EXPECT_EQ(Value(kLibrary), L"qvPwdCtl");
        EXPECT_EQ(Value(std::wstring(kLibrary) + L"\\409\\win32"), Program());
        EXPECT_EQ(Value(kInterface), L"IAutoPasswordEdit");
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(L"qvPwdCtl.PasswordEdit", &clsid), S_OK);

        ASSERT_EQ(Program({form.remove}), 0);
        EXPECT_EQ(Value(L"qvPwdCtl.PasswordEdit"), L"(none)");
        EXPECT_EQ(Value(kClass), L"(none)");
        EXPECT_EQ(Value(kLibrary), L"(none)");
        EXPECT_EQ(Value(kInterface), L"(none)");
    }
}

// A program whose type library is another's is not registered at all.
TEST_F(RegistrationTest, ForeignTypeLibraryRegistersNothing) {
    std::wstring other = qv::win::FromUtf8(BuildTree() + "/bin/vrxBIOS");
    EXPECT_EQ(RegisterPasswordEditServer(other.c_str()), TYPE_E_INVDATAREAD);
    EXPECT_EQ(Value(L"qvPwdCtl.PasswordEdit"), L"(none)");
    EXPECT_EQ(Value(L"VrxBIOS.BIOSInterface"), L"(none)");
    EXPECT_EQ(Value(L"TypeLib\\{358A287F-7187-4394-B773-5A7C275020DA}"), L"(none)");
}

// The stand-alone run registers too; with neither a display nor a terminal it says so and exits with 2.
TEST_F(RegistrationTest, StandAloneWithoutDisplayOrTerminal) {
    EXPECT_EQ(Program({}), 2);
    EXPECT_EQ(Value(L"qvPwdCtl.PasswordEdit\\CLSID"), L"{3BE691DD-D30E-4D30-A04A-C0A8A0F61976}");
}

}  // namespace
