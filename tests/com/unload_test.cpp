// Unloading a shared library that links its own copy of the COM runtime while that copy has a live
// connection, a reader thread and a listener: unloading ends them and frees the copy's tables (the
// sanitizer build's leak check covers the latter), and nothing of the library runs afterwards.

#include "com_fixture.h"
#include "oaidl.h"
#include "ole2.h"
#include "wbemprov.h"

#include <dlfcn.h>

namespace {

using UnloadTest = ComServerTest;

TEST_F(UnloadTest, UnloadEndsConnectionsAndThreads) {
    // The test's own object keeps the server alive after the module is gone, so that only the unloading
    // can end the module's connection.
    Microsoft::WRL::ComPtr<IDispatch> object;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(object.GetAddressOf())),
              S_OK);
    DISPPARAMS none{};
    CComVariant pid;
    ASSERT_EQ(object->Invoke(kDispServerPid, IID_NULL, 0, DISPATCH_METHOD, &none, &pid, nullptr, nullptr), S_OK);
    Track(static_cast<pid_t>(pid.lVal));

    std::string path = TestProgramDir() + "/libqv_com_test_module.so";
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto start = reinterpret_cast<int (*)(int*)>(dlsym(module, "QvTestModuleStart"));
    ASSERT_NE(start, nullptr);
    int sink_released = 0;
    EXPECT_EQ(start(&sink_released), 0);
    EXPECT_EQ(sink_released, 0);  // the server holds it

    // Unloading closes the module's connection: the server's references on the module's sink are released
    // there and then, and the listener and reader threads are joined (dlclose returns at all).
    EXPECT_EQ(dlclose(module), 0);
    EXPECT_EQ(sink_released, 1);

    // The server still answers; once it goes, no thread of the unloaded module wakes up to the closed socket.
    CComVariant r;
    EXPECT_EQ(object->Invoke(kDispServerPid, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr), S_OK);
    object.Reset();
    ASSERT_TRUE(WaitForExit(static_cast<pid_t>(pid.lVal)));
    // Time passes on purpose: a thread of the unloaded module, were one left, would wake up now and crash.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

}  // namespace
