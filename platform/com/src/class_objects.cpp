// Class objects: the platform's in-process classes, the classes this process serves, and activation.

#include "connection.h"
#include "qv_com_runtime.h"
#include "qv_module_unload.h"
#include "qv_private_files.h"
#include "qv_system_root.h"
#include "runtime.h"
#include "statreg.h"
#include "windows.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <vector>

namespace qv::com {

IClassFactory* RegistrarClassFactory();  // registrar.cpp

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

std::mutex platform_mutex;
using PlatformClassTable = std::map<GUID, IClassFactory*, GuidLess>;

// The table holds one reference on each factory; unloading a library's copy gives them back with the table.
PlatformClassTable* PlatformClasses() {
    static auto* classes = [] {
        auto* table = new PlatformClassTable();
        (*table)[CLSID_Registrar] = RegistrarClassFactory();
        qv::win::AtModuleUnloadRelease(
            [](void* object) {
                auto* unloaded = static_cast<PlatformClassTable*>(object);
                for (auto& entry : *unloaded) entry.second->Release();
                delete unloaded;
            },
            table);
        return table;
    }();
    return classes;
}

struct Registration {
    CLSID clsid;
    IUnknown* object;
    DWORD apartment;
    DWORD flags;
};
std::mutex registered_mutex;
std::map<DWORD, Registration>& Registered() {
    static auto* registered = qv::win::KeepUntilUnload(new std::map<DWORD, Registration>());
    return *registered;
}
DWORD next_cookie = 1;
bool suspended = false;

// Announces (or withdraws) this process as the running server of the class. The file is replaced atomically.
// A server that admits every local user announces itself to all of them; any other server to its owner only.
bool Announce(REFCLSID clsid, const std::string& address) {
    std::string text = std::to_string(getpid()) + ' ' + address + '\n';
    return !(AdmitsEveryLocalUser() ? win::ReplaceReadableFile(RunningFile(clsid), text)
                                    : win::ReplacePrivateFile(RunningFile(clsid), text));
}

void Withdraw(REFCLSID clsid) {
    std::string path = RunningFile(clsid);
    std::ifstream in(path);
    long pid = 0;
    if (in >> pid && pid == getpid()) {
        in.close();
        unlink(path.c_str());
    }
}

}  // namespace

std::string RunningFile(REFCLSID clsid) {
    auto folder = win::SystemRoot() / "com" / "running";
    win::CreatePassageFolders(folder.parent_path());
    win::CreatePassageFolders(folder);  // the way to the announcements of servers that admit every user
    return (folder / win::ToUtf8(GuidText(clsid))).string();
}

HRESULT RegisterPlatformClass(REFCLSID clsid, IClassFactory* factory) {
    if (factory == nullptr) return E_POINTER;
    factory->AddRef();
    IClassFactory* previous = nullptr;
    {
        std::lock_guard lock(platform_mutex);
        auto& slot = (*PlatformClasses())[clsid];
        previous = slot;
        slot = factory;
    }
    if (previous != nullptr) previous->Release();
    return S_OK;
}

HRESULT UnregisterPlatformClass(REFCLSID clsid) {
    IClassFactory* previous = nullptr;
    {
        std::lock_guard lock(platform_mutex);
        auto it = PlatformClasses()->find(clsid);
        if (it == PlatformClasses()->end()) return S_FALSE;
        previous = it->second;
        PlatformClasses()->erase(it);
    }
    previous->Release();
    return S_OK;
}

HRESULT GetPlatformClassObject(REFCLSID clsid, IUnknown** object) {
    std::lock_guard lock(platform_mutex);
    auto it = PlatformClasses()->find(clsid);
    if (it == PlatformClasses()->end()) return REGDB_E_CLASSNOTREG;
    it->second->AddRef();
    *object = it->second;
    return S_OK;
}

HRESULT GetRegisteredClassObject(REFCLSID clsid, IUnknown** object, DWORD* apartment) {
    std::lock_guard lock(registered_mutex);
    for (auto& [cookie, r] : Registered()) {
        if (!(r.clsid == clsid)) continue;
        if (suspended || (r.flags & REGCLS_SUSPENDED)) return CO_E_SERVER_STOPPING;
        r.object->AddRef();
        *object = r.object;
        *apartment = r.apartment;
        return S_OK;
    }
    return REGDB_E_CLASSNOTREG;
}

}  // namespace qv::com

using namespace qv::com;

HRESULT CoRegisterClassObject(REFCLSID clsid, IUnknown* object, DWORD context, DWORD flags, LPDWORD cookie) {
    if (object == nullptr || cookie == nullptr) return E_INVALIDARG;
    *cookie = 0;
    if (!IsThreadInitialised()) return CO_E_NOTINITIALIZED;
    if ((context & CLSCTX_LOCAL_SERVER) == 0) return E_INVALIDARG;
    std::string address = LocalEndpoint();
    if (address.empty()) return E_FAIL;
    object->AddRef();
    {
        std::lock_guard lock(registered_mutex);
        *cookie = next_cookie++;
        Registered()[*cookie] = {clsid, object, CurrentApartmentThread(), flags};
    }
    bool visible = (flags & REGCLS_SUSPENDED) == 0;
    {
        std::lock_guard lock(registered_mutex);
        visible = visible && !suspended;
    }
    if (visible && !Announce(clsid, address)) {
        CoRevokeClassObject(*cookie);
        *cookie = 0;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
    Registration r{};
    {
        std::lock_guard lock(registered_mutex);
        auto it = Registered().find(cookie);
        if (it == Registered().end()) return E_INVALIDARG;
        r = it->second;
        Registered().erase(it);
    }
    Withdraw(r.clsid);
    r.object->Release();
    return S_OK;
}

HRESULT CoSuspendClassObjects() {
    std::vector<CLSID> classes;
    {
        std::lock_guard lock(registered_mutex);
        suspended = true;
        for (auto& [cookie, r] : Registered()) classes.push_back(r.clsid);
    }
    for (const auto& clsid : classes) Withdraw(clsid);
    return S_OK;
}

HRESULT CoResumeClassObjects() {
    std::vector<CLSID> classes;
    {
        std::lock_guard lock(registered_mutex);
        suspended = false;
        for (auto& [cookie, r] : Registered()) {
            r.flags &= ~static_cast<DWORD>(REGCLS_SUSPENDED);
            classes.push_back(r.clsid);
        }
    }
    std::string address = LocalEndpoint();
    for (const auto& clsid : classes) Announce(clsid, address);
    return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void*, REFIID riid, void** object) {
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    if (!IsThreadInitialised()) return CO_E_NOTINITIALIZED;
    HRESULT hr = REGDB_E_CLASSNOTREG;
    if (context & CLSCTX_INPROC_SERVER) {
        IUnknown* factory = nullptr;
        hr = GetPlatformClassObject(clsid, &factory);
        if (SUCCEEDED(hr)) {
            hr = factory->QueryInterface(riid, object);
            factory->Release();
            return hr;
        }
    }
    if (context & CLSCTX_LOCAL_SERVER) {
        // A class this process serves itself is used directly.
        IUnknown* own = nullptr;
        DWORD apartment = 0;
        if (SUCCEEDED(GetRegisteredClassObject(clsid, &own, &apartment))) {
            hr = own->QueryInterface(riid, object);
            own->Release();
            return hr;
        }
        return ActivateLocalServer(clsid, riid, false, object);
    }
    return hr;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsThreadInitialised()) return CO_E_NOTINITIALIZED;
    // A local server of another process creates the object in the same call that finds its class object, so
    // a server that is just shutting down cannot fail the creation half-way.
    if ((context & CLSCTX_LOCAL_SERVER) != 0 && outer == nullptr) {
        IUnknown* probe = nullptr;
        DWORD apartment = 0;
        bool in_process = (context & CLSCTX_INPROC_SERVER) != 0 && SUCCEEDED(GetPlatformClassObject(clsid, &probe));
        in_process = in_process || SUCCEEDED(GetRegisteredClassObject(clsid, &probe, &apartment));
        if (probe != nullptr) probe->Release();
        if (!in_process) return ActivateLocalServer(clsid, riid, true, object);
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}
