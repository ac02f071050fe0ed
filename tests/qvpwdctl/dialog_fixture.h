// The control as a client sees it, on a private X desktop: qvpwdctl registered in a fresh system root,
// GetPassword called through the COM stand-in from this test process (COM starts `qvpwdctl -Embedding` on
// demand), keys typed with xdotool into the dialog it shows. Tests skip when the desktop cannot run here.
#pragma once

#include "oaidl.h"
#include "objbase.h"
#include "oleauto.h"
#include "qv_child_process.h"
#include "qv_system_root.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "x_desktop.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

struct PasswordCall {
    HRESULT hr = E_FAIL;
    std::string text;         // the result, UTF-8
    HRESULT scode = S_OK;     // with DISP_E_EXCEPTION
    std::string description;  // with DISP_E_EXCEPTION
};

inline std::vector<std::string> Words(const std::string& text) {
    std::vector<std::string> words;
    std::stringstream in(text);
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

class DialogTest : public TempRootTest {
protected:
    static constexpr const char* kCaption = "QV Password Conversion Utility";

    void SetUp() override {
        TempRootTest::SetUp();
        std::string reason;
        xvfb_ = std::make_unique<desktop::Xvfb>();
        if (!xvfb_->Start(&reason)) GTEST_SKIP() << "no X desktop: " << reason;
        setenv("DISPLAY", xvfb_->Name().c_str(), 1);
        debug_ = root_ / "debug-output.txt";
        setenv("QV_DEBUG_OUTPUT", debug_.c_str(), 1);
        ASSERT_EQ(Program({"-RegServer"}), 0);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        com_ = true;
    }
    void TearDown() override {
        if (control_ != nullptr) control_->Release();
        control_ = nullptr;
        if (com_) CoUninitialize();
        unsetenv("QV_DEBUG_OUTPUT");
        TempRootTest::TearDown();
        unsetenv("DISPLAY");
        xvfb_.reset();
    }

    static std::string ProgramPath() { return BuildTree() + "/bin/qvpwdctl"; }
    // Runs qvpwdctl with the arguments and returns its exit code.
    int Program(std::vector<std::string> args) {
        args.insert(args.begin(), ProgramPath());
        return WaitChild(StartChild(args, root_ / "program.out", root_ / "program.err"), std::chrono::seconds(60));
    }

    std::string Debug() {
        std::ifstream in(debug_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    int CountInDebug(const std::string& text) {
        std::string all = Debug();
        int n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
        return n;
    }
    // The last line of the debug output that holds `text`.
    std::string LastDebugLine(const std::string& text) {
        std::stringstream lines(Debug());
        std::string line, last;
        while (std::getline(lines, line))
            if (line.find(text) != std::string::npos) last = line;
        return last;
    }

    // Waits for the `nth` dialog of the test to be ready for keys and gives it the keyboard focus. Returns
    // its window.
    unsigned long WaitForDialog(int nth) {
        EXPECT_TRUE(desktop::WaitUntil([&] { return CountInDebug("password box ready") >= nth; }))
            << "no dialog; debug output:\n"
            << Debug();
        desktop::ToolResult found = desktop::RunTool(xvfb_->Name(), {"xdotool", "search", "--name", kCaption});
        std::vector<std::string> ids = Words(found.out);
        EXPECT_FALSE(ids.empty()) << "no window named " << kCaption;
        if (ids.empty()) return 0;
        unsigned long window = std::stoul(ids.back());
        desktop::RunTool(xvfb_->Name(), {"xdotool", "windowfocus", "--sync", ids.back()});
        return window;
    }
    // Runs an xdotool command line ("key a shift+a").
    void Xdotool(const std::string& command) {
        std::vector<std::string> args = Words(command);
        if (args.empty()) return;
        if (args[0] == "key" || args[0] == "keydown" || args[0] == "keyup")
            args.insert(args.begin() + 1, {"--delay", "5"});
        args.insert(args.begin(), "xdotool");
        ASSERT_EQ(desktop::RunTool(xvfb_->Name(), args).code, 0) << command;
    }

    IDispatch* Control() {
        if (control_ == nullptr) {
            CLSID clsid{};
            EXPECT_EQ(CLSIDFromProgID(L"qvPwdCtl.PasswordEdit", &clsid), S_OK);
            EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                       reinterpret_cast<void**>(&control_)),
                      S_OK);
        }
        return control_;
    }

    // GetPassword(prompt) on a thread of its own; the result arrives when the dialog closes.
    std::future<PasswordCall> StartGetPassword(const std::wstring& prompt) {
        IDispatch* control = Control();
        return std::async(std::launch::async, [control, prompt] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            PasswordCall call;
            VARIANT argument;
            VariantInit(&argument);
            argument.vt = VT_BSTR;
            argument.bstrVal = SysAllocString(prompt.c_str());
            DISPPARAMS params{&argument, nullptr, 1, 0};
            VARIANT result;
            VariantInit(&result);
            EXCEPINFO exception{};
            call.hr = control->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &exception, nullptr);
            if (result.vt == VT_BSTR) call.text = qv::win::ToUtf8(result.bstrVal != nullptr ? result.bstrVal : L"");
            call.scode = exception.scode;
            if (exception.bstrDescription != nullptr) call.description = qv::win::ToUtf8(exception.bstrDescription);
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrDescription);
            VariantClear(&result);
            VariantClear(&argument);
            CoUninitialize();
            return call;
        });
    }

    // The call's outcome; a call that does not return in time fails the test and its server is ended.
    PasswordCall Finish(std::future<PasswordCall>& call) {
        if (call.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
            ADD_FAILURE() << "GetPassword did not return; debug output:\n" << Debug();
            EndRootProcesses(root_);
        }
        return call.get();
    }

    std::unique_ptr<desktop::Xvfb> xvfb_;
    std::filesystem::path debug_;
    IDispatch* control_ = nullptr;
    bool com_ = false;
};
