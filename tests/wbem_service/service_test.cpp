// The instrumentation service end to end: the client tool, the service (winmgmt) and the test provider run as
// real processes on a temporary system root with the test schema compiled by mofcomp.
#include "atlbase.h"
#include "objbase.h"
#include "qv_child_process.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "qv_wbem_classes.h"
#include "wbemprov.h"
#include "winreg.h"
#include "wrl/client.h"
#include "qv_wait.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Microsoft::WRL::ComPtr;

struct Result {
    int code = -1;
    std::string out, err;
};

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Alive(pid_t pid) {
    if (kill(pid, 0) != 0) return false;
    std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

bool WaitGone(pid_t pid, std::chrono::seconds limit) {
    return WaitUntil([&] { return !Alive(pid); }, limit);
}

class ServiceTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        setenv("QV_WBEM_SERVICE", (BuildTree() + "/bin/winmgmt").c_str(), 1);
        setenv("QV_WBEM_SERVICE_IDLE_MS", "1000", 1);
        setenv("QV_WBEM_PROVIDER_IDLE_MS", "1500", 1);
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{6A0B2C4D-1E3F-4A5B-8C7D-9E0F1A2B3C4D}\\LocalServer32", 0,
                                  nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        std::wstring program = qv::win::FromUtf8(BuildTree() + "/tests/qvt_test_provider");
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                       static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        Result compiled = Run({BuildTree() + "/bin/mofcomp", QVT_SCHEMA});
        ASSERT_EQ(compiled.code, 0) << compiled.out << compiled.err;
    }
    void TearDown() override {
        CoUninitialize();
        // Service and provider end by themselves once idle; one that does not is a failure (and is killed).
        for (pid_t pid : RootProcesses()) {
            EXPECT_TRUE(WaitGone(pid, 20s)) << "process " << pid << " did not exit";
            if (Alive(pid)) kill(pid, SIGKILL);
        }
        TempRootTest::TearDown();
    }

    // Processes other than this one that run on this test's root.
    std::vector<pid_t> RootProcesses() {
        std::vector<pid_t> found;
        std::string marker = "QV_SYSTEM_ROOT=" + root_.string();
        DIR* proc = opendir("/proc");
        while (dirent* entry = readdir(proc)) {
            pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
            if (pid <= 0 || pid == getpid() || !Alive(pid)) continue;
            std::string environ = ReadFile("/proc/" + std::to_string(pid) + "/environ");
            for (size_t start = 0; start < environ.size();) {
                size_t end = environ.find('\0', start);
                if (end == std::string::npos) end = environ.size();
                if (environ.compare(start, end - start, marker) == 0) found.push_back(pid);
                start = end + 1;
            }
        }
        closedir(proc);
        return found;
    }

    // Starts a program with its output in files; returns its pid.
    pid_t Spawn(const std::vector<std::string>& args, const std::string& name) {
        return StartChild(args, root_ / (name + ".out"), root_ / (name + ".err"));
    }
    Result Finish(pid_t pid, const std::string& name, std::chrono::seconds limit = 60s) {
        Result r;
        r.code = WaitChild(pid, limit);
        r.out = ReadFile(root_ / (name + ".out"));
        r.err = ReadFile(root_ / (name + ".err"));
        return r;
    }
    Result Run(const std::vector<std::string>& args) { return Finish(Spawn(args, "run"), "run"); }
    Result Wmi(std::vector<std::string> args) {
        args.insert(args.begin(), {BuildTree() + "/bin/wmi", "--namespace", "root\\QVTest"});
        return Run(args);
    }

    std::vector<pid_t> ProviderStarts() {
        std::vector<pid_t> pids;
        std::istringstream log(ReadFile(root_ / "test_provider.log"));
        std::string word;
        long pid = 0;
        while (log >> word)
            if (word == "start" && log >> pid) pids.push_back(static_cast<pid_t>(pid));
        return pids;
    }
    std::string ProviderLog() { return ReadFile(root_ / "test_provider.log"); }
    // Until `count` Stall calls have reached a provider.
    bool WaitForStalls(size_t count) {
        return WaitUntil(
            [&] {
                std::string log = ProviderLog();
                size_t seen = 0;
                for (size_t at = log.find("stall"); at != std::string::npos; at = log.find("stall", at + 1)) ++seen;
                return seen >= count;
            },
            30s);
    }
};

TEST_F(ServiceTest, StaticInstancesWithConditionsInEveryForm) {
    Result table = Wmi({"query", "SELECT Name, Value FROM QVT_Setting WHERE Value > 0 AND Enabled = TRUE"});
    ASSERT_EQ(table.code, 0) << table.err;
    EXPECT_NE(table.out.find("Gamma"), std::string::npos);
    EXPECT_NE(table.out.find("Delta"), std::string::npos) << "a base class query includes subclasses";
    EXPECT_EQ(table.out.find("Alpha"), std::string::npos);
    EXPECT_EQ(table.out.find("Beta"), std::string::npos);
    EXPECT_EQ(table.out.find("Size"), std::string::npos) << "the SELECT list is applied";

    Result list = Wmi(
        {"query", "SELECT * FROM QVT_Setting WHERE Name LIKE 'B%' OR Tags IS NOT NULL", "--format", "list"});
    ASSERT_EQ(list.code, 0) << list.err;
    EXPECT_NE(list.out.find("Beta"), std::string::npos);
    EXPECT_NE(list.out.find("Alpha"), std::string::npos);
    EXPECT_EQ(list.out.find("Gamma"), std::string::npos);

    Result json = Wmi(
        {"--format", "json", "query", "SELECT Name, Value, Size, Tags FROM QVT_Setting WHERE NOT (Value >= 0)"});
    ASSERT_EQ(json.code, 0) << json.err;
    auto parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), 1u);
    EXPECT_EQ(parsed[0]["Name"], "Alpha");
    EXPECT_EQ(parsed[0]["Value"], -5);
    EXPECT_EQ(parsed[0]["Size"], 10);
    EXPECT_EQ(parsed[0]["Tags"], nlohmann::json::array({"a", "b"}));

    Result get = Wmi({"get", "QVT_Setting.Name=\"Beta\"", "--format", "json"});
    ASSERT_EQ(get.code, 0) << get.err;
    EXPECT_EQ(nlohmann::json::parse(get.out)[0]["Value"], 7);

    Result classes = Wmi({"classes"});
    ASSERT_EQ(classes.code, 0) << classes.err;
    EXPECT_NE(classes.out.find("QVT_SpecialSetting\n"), std::string::npos);
    Result mof = Wmi({"class", "QVT_SpecialSetting"});
    ASSERT_EQ(mof.code, 0) << mof.err;
    EXPECT_NE(mof.out.find("class QVT_SpecialSetting : QVT_Setting"), std::string::npos) << mof.out;

    // Deleting a class takes its instances along.
    ASSERT_EQ(Wmi({"delete", "QVT_SpecialSetting"}).code, 0);
    EXPECT_NE(Wmi({"class", "QVT_SpecialSetting"}).err.find("WBEM_E_NOT_FOUND"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(Wmi({"--format", "json", "enum", "QVT_Setting"}).out).size(), 3u);
}

// The service keeps what it looked up in the repository only while the repository is unchanged: a MOF
// compiled by another process between two queries (a new subclass with an instance, a class taken away) is
// seen by the second.
TEST_F(ServiceTest, AClassCompiledByAnotherProcessIsSeenByTheNextQuery) {
    auto names = [&](const std::string& cls) {
        Result r = Wmi({"--format", "json", "query", "SELECT Name FROM " + cls});
        std::set<std::string> found;
        if (r.code != 0) return found;
        for (const auto& o : nlohmann::json::parse(r.out)) found.insert(o["Name"].get<std::string>());
        return found;
    };
    EXPECT_EQ(names("QVT_Setting"), (std::set<std::string>{"Alpha", "Beta", "Gamma", "Delta"}));
    std::filesystem::path later = root_ / "later.mof";
    std::ofstream(later) << "#pragma namespace(\"\\\\\\\\.\\\\root\\\\QVTest\")\n"
                            "class QVT_LaterSetting : QVT_Setting { };\n"
                            "instance of QVT_LaterSetting { Name = \"Epsilon\"; };\n";
    Result compiled = Run({BuildTree() + "/bin/mofcomp", later.string()});
    ASSERT_EQ(compiled.code, 0) << compiled.out << compiled.err;
    EXPECT_EQ(names("QVT_Setting"), (std::set<std::string>{"Alpha", "Beta", "Gamma", "Delta", "Epsilon"}));
    EXPECT_EQ(names("QVT_LaterSetting"), (std::set<std::string>{"Epsilon"}));

    std::ofstream(later) << "#pragma namespace(\"\\\\\\\\.\\\\root\\\\QVTest\")\n"
                            "#pragma deleteclass(\"QVT_LaterSetting\", FAIL)\n";
    compiled = Run({BuildTree() + "/bin/mofcomp", later.string()});
    ASSERT_EQ(compiled.code, 0) << compiled.out << compiled.err;
    EXPECT_EQ(names("QVT_Setting"), (std::set<std::string>{"Alpha", "Beta", "Gamma", "Delta"}));
    EXPECT_NE(Wmi({"query", "SELECT * FROM QVT_LaterSetting"}).err.find("WBEM_E_INVALID_CLASS"), std::string::npos);
}

TEST_F(ServiceTest, BadInputIsRefusedWithItsCodeAndChangesNothing) {
    struct Case {
        std::vector<std::string> args;
        const char* code;
    } cases[] = {
        {{"query", "SELECT FROM QVT_Setting"}, "WBEM_E_INVALID_QUERY"},
        {{"query", "SELECT * FROM QVT_Setting WHERE (Value = 1"}, "WBEM_E_INVALID_QUERY"},
        {{"query", "SELECT * FROM NoSuchClass"}, "WBEM_E_INVALID_CLASS"},
        {{"get", "QVT_Setting.Name="}, "WBEM_E_INVALID_OBJECT_PATH"},
        {{"delete", "QVT_Setting.Name=\"Alpha"}, "WBEM_E_INVALID_OBJECT_PATH"},
        {{"get", "QVT_Setting.Name=\"Nobody\""}, "WBEM_E_NOT_FOUND"},
        {{"watch", "SELECT * FROM QVT_Setting", "--timeout", "1"}, "WBEM_E_NOT_EVENT_CLASS"},
        {{"watch", "SELECT * FROM QVT_LockedEvent", "--timeout", "1"}, "WBEM_E_ACCESS_DENIED"},
    };
    for (const auto& c : cases) {
        Result r = Wmi(c.args);
        EXPECT_NE(r.code, 0) << c.args[1];
        EXPECT_NE(r.err.find(c.code), std::string::npos) << c.args[1] << ": " << r.err;
    }
    Result all = Wmi({"--format", "json", "enum", "QVT_Setting"});
    ASSERT_EQ(all.code, 0) << all.err;
    EXPECT_EQ(nlohmann::json::parse(all.out).size(), 4u);

    Result unknown_ns = Run({BuildTree() + "/bin/wmi", "--namespace", "root\\NoSuchNamespace", "classes"});
    EXPECT_NE(unknown_ns.err.find("WBEM_E_INVALID_NAMESPACE"), std::string::npos) << unknown_ns.err;

    // A well-formed delete of a static instance does change the repository.
    EXPECT_EQ(Wmi({"delete", "QVT_Setting.Name=\"Alpha\""}).code, 0);
    EXPECT_EQ(nlohmann::json::parse(Wmi({"--format", "json", "enum", "QVT_Setting"}).out).size(), 3u);
}

// A provider that reads another provider's class while it starts (as the BIOS provider's library reads the
// SMBIOS table of root\\WMI) is answered at once: starts of different providers do not wait for each other.
TEST_F(ServiceTest, AProviderStartingReadsAnotherProvidersClass) {
    setenv("QVT_INIT_READS_ROOT_WMI", "1", 1);
    Result listed = Wmi({"--format", "json", "enum", "QVT_Dynamic"});
    unsetenv("QVT_INIT_READS_ROOT_WMI");
    ASSERT_EQ(listed.code, 0) << listed.err;
    EXPECT_EQ(nlohmann::json::parse(listed.out).size(), 3u);
    EXPECT_NE(ProviderLog().find("smbios 1"), std::string::npos) << ProviderLog();
}

TEST_F(ServiceTest, ProviderServesTheDynamicClassAndIsReleasedWhenIdle) {
    Result listed = Wmi({"--format", "json", "enum", "QVT_Dynamic"});
    ASSERT_EQ(listed.code, 0) << listed.err;
    auto instances = nlohmann::json::parse(listed.out);
    ASSERT_EQ(instances.size(), 3u);
    std::string object = instances[0]["ProviderObject"];

    Result filtered = Wmi({"--format", "json", "query", "SELECT Index FROM QVT_Dynamic WHERE Index >= 1"});
    ASSERT_EQ(filtered.code, 0) << filtered.err;
    EXPECT_EQ(nlohmann::json::parse(filtered.out), nlohmann::json::parse(R"([{"Index":1},{"Index":2}])"));

    Result called = Wmi({"--format", "json", "call", "QVT_Dynamic", "Add", "A=40", "B=-2"});
    ASSERT_EQ(called.code, 0) << called.err;
    auto out = nlohmann::json::parse(called.out)[0];
    EXPECT_EQ(out["Sum"], 38);
    EXPECT_EQ(out["ReturnValue"], 0);
    EXPECT_EQ(out["ProviderObject"], object) << "a second command reaches the same provider object";

    Result got = Wmi({"--format", "json", "get", "QVT_Dynamic.Index=2"});
    ASSERT_EQ(got.code, 0) << got.err;
    EXPECT_EQ(nlohmann::json::parse(got.out)[0]["Label"], "QVT_Dynamic 2");

    Result removed = Wmi({"delete", "QVT_Dynamic.Index=1"});
    EXPECT_NE(removed.err.find("WBEM_E_PROVIDER_NOT_CAPABLE"), std::string::npos) << removed.err;
    EXPECT_EQ(ProviderLog().find("delete"), std::string::npos) << "the service refuses without calling the provider";
    ASSERT_EQ(ProviderStarts().size(), 1u);

    // Idle: the provider is released and exits, then the service.
    pid_t provider = ProviderStarts()[0];
    EXPECT_TRUE(WaitGone(provider, 30s));
    EXPECT_TRUE(WaitUntil([&] { return RootProcesses().empty(); }, 30s)) << "the service exits once nothing uses it";

    // The next client starts both afresh.
    Result again = Wmi({"--format", "json", "enum", "QVT_Dynamic"});
    ASSERT_EQ(again.code, 0) << again.err;
    EXPECT_NE(nlohmann::json::parse(again.out)[0]["ProviderObject"], object);
    EXPECT_EQ(ProviderStarts().size(), 2u);
}

TEST_F(ServiceTest, ObjectsAndContextsCrossEveryProcessByValue) {
    ComPtr<IWbemLocator> locator;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void**>(locator.GetAddressOf())),
              S_OK);
    ComPtr<IWbemServices> services;
    ASSERT_EQ(locator->ConnectServer(CComBSTR(L"\\\\.\\root\\QVTest"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     services.GetAddressOf()),
              S_OK);

    ComPtr<IWbemContext> context;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemContext, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemContext,
                               reinterpret_cast<void**>(context.GetAddressOf())),
              S_OK);
    CComVariant tag(L"through two processes");
    ASSERT_EQ(context->SetValue(L"Tag", 0, &tag), S_OK);

    ComPtr<IWbemClassObject> cls, in_signature, in, out;
    CComBSTR name(L"QVT_Dynamic");
    ASSERT_EQ(services->GetObject(name, 0, nullptr, cls.GetAddressOf(), nullptr), S_OK);
    ASSERT_EQ(cls->GetMethod(L"Add", 0, in_signature.GetAddressOf(), nullptr), S_OK);
    ASSERT_EQ(in_signature->SpawnInstance(0, in.GetAddressOf()), S_OK);
    CComVariant v(2);
    in->Put(L"A", 0, &v, 0);
    v.lVal = 3;
    in->Put(L"B", 0, &v, 0);
    ASSERT_EQ(services->ExecMethod(name, CComBSTR(L"Add"), 0, context.Get(), in.Get(), out.GetAddressOf(), nullptr),
              S_OK);
    ASSERT_NE(out, nullptr);
    CComVariant sum, echoed;
    EXPECT_EQ(out->Get(L"Sum", 0, &sum, nullptr, nullptr), S_OK);
    EXPECT_EQ(sum.lVal, 5);
    EXPECT_EQ(out->Get(L"ContextTag", 0, &echoed, nullptr, nullptr), S_OK);
    ASSERT_EQ(echoed.vt, VT_BSTR);
    EXPECT_STREQ(echoed.bstrVal, L"through two processes");

    // The returned object is a local copy: changing it changes nothing elsewhere.
    CComVariant changed(99);
    EXPECT_EQ(out->Put(L"Sum", 0, &changed, 0), S_OK);

    // A bad namespace is refused by the service.
    ComPtr<IWbemLocator> again;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void**>(again.GetAddressOf())),
              S_OK);
    ComPtr<IWbemServices> none;
    EXPECT_EQ(again->ConnectServer(CComBSTR(L"root\\NoSuch"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                   none.GetAddressOf()),
              WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(none, nullptr);
}

// Collects what an async call delivers, until its final status.
class WaitingSink final : public IWbemObjectSink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWbemObjectSink)) {
            *out = static_cast<IWbemObjectSink*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override { return --refs_; }
    STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
        std::lock_guard lock(mutex_);
        for (LONG i = 0; i < count; ++i) {
            CComVariant index;
            objects[i]->Get(L"Index", 0, &index, nullptr, nullptr);
            indexes_.push_back(index.lVal);
        }
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG flags, HRESULT result, BSTR, IWbemClassObject*) override {
        std::lock_guard lock(mutex_);
        if (flags == WBEM_STATUS_COMPLETE) {
            status_ = result;
            done_ = true;
            cv_.notify_all();
        }
        return S_OK;
    }
    HRESULT Wait(std::vector<LONG>* indexes) {
        std::unique_lock lock(mutex_);
        if (!cv_.wait_for(lock, 60s, [&] { return done_; })) return WBEM_E_TIMED_OUT;
        *indexes = indexes_;
        return status_;
    }
    ULONG refs() const { return refs_; }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    HRESULT status_ = S_OK;
    std::vector<LONG> indexes_;
    std::atomic<ULONG> refs_{1};
};

TEST_F(ServiceTest, AsyncQueriesStreamIntoTheClientsSink) {
    ComPtr<IWbemLocator> locator;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                               reinterpret_cast<void**>(locator.GetAddressOf())),
              S_OK);
    ComPtr<IWbemServices> services;
    ASSERT_EQ(locator->ConnectServer(CComBSTR(L"root\\QVTest"), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                     services.GetAddressOf()),
              S_OK);
    CComBSTR wql(L"WQL");
    CComBSTR text(L"SELECT Index FROM QVT_Bulk5000 WHERE Index < 100 OR Index = 4999");
    CComBSTR bad(L"SELECT * FROM QVT_Bulk5000 WHERE");
    {
        WaitingSink sink;
        ASSERT_EQ(services->ExecQueryAsync(wql, text, 0, nullptr, &sink), S_OK);
        std::vector<LONG> indexes;
        EXPECT_EQ(sink.Wait(&indexes), S_OK);
        EXPECT_EQ(indexes.size(), 101u);
        EXPECT_EQ(indexes.back(), 4999);
        WaitingSink refused;
        EXPECT_EQ(services->ExecQueryAsync(wql, bad, 0, nullptr, &refused), WBEM_E_INVALID_QUERY);
        // The service lets go of the sinks once done.
        services.Reset();
        WaitUntil([&] { return sink.refs() <= 1; }, 10s);
        EXPECT_EQ(sink.refs(), 1u);
    }
}

TEST_F(ServiceTest, AnEventTheProviderFiresReachesAConsumerInAnotherProcess) {
    // Nobody subscribed: the provider gets no sink.
    Result unheard = Wmi({"--format", "json", "call", "QVT_Dynamic", "Fire", "Message=unheard"});
    ASSERT_EQ(unheard.code, 0) << unheard.err;
    EXPECT_EQ(nlohmann::json::parse(unheard.out)[0]["ReturnValue"], 1);

    pid_t watcher = Spawn({BuildTree() + "/bin/wmi", "--namespace", "root\\QVTest", "--format", "json", "watch",
                           "SELECT * FROM QVT_Event WHERE Message LIKE 'hello%'", "--count", "1", "--timeout", "60"},
                          "watch");
    // Fire until the subscription is in place (the provider then finds a sink); a non-matching event first.
    bool fired_ok = true;
    bool delivered = WaitUntil(
        [&] {
            Result fired = Wmi({"--format", "json", "call", "QVT_Dynamic", "Fire", "Message=other"});
            fired_ok = fired.code == 0;
            EXPECT_EQ(fired.code, 0) << fired.err;
            return !fired_ok || nlohmann::json::parse(fired.out)[0]["ReturnValue"] == 0;
        },
        30s);
    ASSERT_TRUE(fired_ok);
    ASSERT_TRUE(delivered);
    ASSERT_EQ(Wmi({"call", "QVT_Dynamic", "Fire", "Message=hello there"}).code, 0);
    Result watched = Finish(watcher, "watch");
    ASSERT_EQ(watched.code, 0) << watched.err;
    auto event = nlohmann::json::parse(watched.out);
    EXPECT_EQ(event["Message"], "hello there");
}

TEST_F(ServiceTest, ADeadClientOrProviderLeavesTheServiceWorking) {
    ASSERT_EQ(Wmi({"enum", "QVT_Dynamic"}).code, 0);
    // A client killed while its call is running in the provider.
    pid_t client = Spawn({BuildTree() + "/bin/wmi", "--namespace", "root\\QVTest", "call", "QVT_Dynamic", "Stall"},
                         "stall");
    ASSERT_TRUE(WaitForStalls(1));
    kill(client, SIGKILL);
    Finish(client, "stall");
    Result after = Wmi({"--format", "json", "query", "SELECT * FROM QVT_Setting WHERE Name = 'Gamma'"});
    ASSERT_EQ(after.code, 0) << after.err;
    EXPECT_EQ(nlohmann::json::parse(after.out).size(), 1u);

    // A provider that dies under a pending call fails that call; the next request gets a fresh provider.
    pid_t stalled = Spawn({BuildTree() + "/bin/wmi", "--namespace", "root\\QVTest", "call", "QVT_Dynamic", "Stall"},
                          "stall2");
    ASSERT_TRUE(WaitForStalls(2));
    auto starts = ProviderStarts();
    ASSERT_FALSE(starts.empty());
    kill(starts.back(), SIGKILL);
    Result failed = Finish(stalled, "stall2");
    EXPECT_NE(failed.code, 0);
    EXPECT_NE(failed.err.find("WBEM_E_PROVIDER_FAILURE"), std::string::npos) << failed.err;
    Result fresh = Wmi({"--format", "json", "enum", "QVT_Dynamic"});
    ASSERT_EQ(fresh.code, 0) << fresh.err;
    EXPECT_EQ(nlohmann::json::parse(fresh.out).size(), 3u);
    EXPECT_GT(ProviderStarts().size(), starts.size());

    // A service that crashed is started afresh by the next client.
    std::ifstream running(root_ / "com" / "running" / "{B7E3C1D2-5A4F-4E0B-8C61-0D2F9A7B3E52}");
    long service = 0;
    ASSERT_TRUE(running >> service);
    kill(static_cast<pid_t>(service), SIGKILL);
    ASSERT_TRUE(WaitGone(static_cast<pid_t>(service), 10s));
    Result restarted = Wmi({"--format", "json", "enum", "QVT_Dynamic"});
    ASSERT_EQ(restarted.code, 0) << restarted.err;
    EXPECT_EQ(nlohmann::json::parse(restarted.out).size(), 3u);
}

}  // namespace
