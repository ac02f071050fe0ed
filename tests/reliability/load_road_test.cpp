// The real road under load: eight clients at once, each changing a setting of its own with SetBIOSSetting
// between enumerations and get object (every request a client-tool process of its own), and one watcher of
// the configuration events. At the end no call hung or failed, every setting holds the last value its client
// was told was stored, the watcher heard one change event per stored change, and the service, the provider
// and its driver all end by themselves. QVT_LOAD_SECONDS sets how long the clients run (default 15); the
// operations per second go to standard output and into the test's properties.
#include "settings_road.h"

#include <atomic>
#include <map>
#include <mutex>

namespace road {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr char kInterface[] = "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
constexpr int kClients = 8;
constexpr auto kCallLimit = 60s;  // a request that takes longer hung

std::string SettingName(int client) { return "Load Setting " + std::to_string(client); }

// What one client did: requests made, the failures seen, the changes acknowledged and the last value stored.
struct ClientRecord {
    long requests = 0;
    long acknowledged = 0;
    long last_value = -1;
    std::vector<std::string> failures;
};

class LoadRoad : public SettingsRoadTest {
protected:
    // The desktop with one integer setting per client and one for probing the watcher.
    std::string LoadProfile() {
        json profile = json::parse(ReadText(SourceTree() + "/platform/machine/profiles/desktop.json"));
        auto& objects = profile["system_objects"]["objects"];
        for (int client = 0; client <= kClients; ++client)
            objects.push_back({{"name", SettingName(client)},
                               {"type", "int"},
                               {"path", {"Load"}},
                               {"low", 0},
                               {"high", 100000000},
                               {"value", 0}});
        std::string path = (root_ / "load-desktop.json").string();
        std::ofstream(path) << profile.dump(1);
        return path;
    }

    // One request of a client through the client tool, its output in the client's own files.
    Result Request(int client, std::vector<std::string> args) {
        args.insert(args.begin(), {BuildTree() + "/bin/wmi", "--format", "json"});
        std::filesystem::path out = root_ / ("client" + std::to_string(client) + ".out");
        std::filesystem::path err = root_ / ("client" + std::to_string(client) + ".err");
        Result r;
        r.code = WaitChild(StartChild(args, out, err), kCallLimit);
        r.out = ReadText(out);
        r.err = ReadText(err);
        return r;
    }

    static int ReturnOf(const Result& r) {
        if (r.code != 0) return -1;
        json answer = json::parse(r.out, nullptr, false);
        return answer.is_array() && !answer.empty() && answer[0].contains("Return") ? answer[0]["Return"].get<int>()
                                                                                    : -1;
    }

    // A client's loop until `deadline`: enumerate the integers, change its setting to the next value, get the
    // setting by its path and compare.
    void RunClient(int client, Clock::time_point deadline, ClientRecord& record) {
        const std::string name = SettingName(client);
        std::string path;
        auto fail = [&](const std::string& what, const Result& r) {
            record.failures.push_back(what + " (exit " + std::to_string(r.code) + "): " + r.err.substr(0, 300));
        };
        for (long value = 1; Clock::now() < deadline; ++value) {
            Result listed = Request(client, {"query", "SELECT Name, Value, InstanceName FROM QVPROV_BIOSInteger"});
            ++record.requests;
            if (listed.code != 0) {
                fail("enumeration", listed);
                continue;
            }
            json objects = json::parse(listed.out, nullptr, false);
            for (const json& o : objects.is_array() ? objects : json::array())
                if (o["Name"] == name)
                    path = "QVPROV_BIOSInteger.InstanceName=\"" + o["InstanceName"].get<std::string>() + "\"";
            Result changed = Request(client, {"call", kInterface, "SetBIOSSetting", "Name=" + name,
                                              "Value=" + std::to_string(value), "Password="});
            ++record.requests;
            int answer = ReturnOf(changed);
            if (answer == 0) {
                ++record.acknowledged;
                record.last_value = value;
            } else {
                fail("SetBIOSSetting answered " + std::to_string(answer), changed);
            }
            if (path.empty()) {
                record.failures.push_back("no instance of " + name + " enumerated");
                continue;
            }
            Result got = Request(client, {"get", path});
            ++record.requests;
            json object = json::parse(got.out, nullptr, false);
            if (got.code != 0 || !object.is_array() || object.empty()) {
                fail("get object", got);
            } else if (object[0]["Value"] != std::to_string(record.last_value)) {
                record.failures.push_back("get object read " + object[0]["Value"].dump() + " after " +
                                          std::to_string(record.last_value) + " was stored");
            }
        }
    }
};

TEST_F(LoadRoad, EightClientsChangeTheirSettingsWhileAWatcherListens) {
    const char* configured = std::getenv("QVT_LOAD_SECONDS");
    const int seconds = configured != nullptr && std::atoi(configured) > 0 ? std::atoi(configured) : 15;
    Prepare(LoadProfile());

    std::filesystem::path events = root_ / "watch.out";
    pid_t watcher = StartChild({BuildTree() + "/bin/wmi", "--format", "json", "watch",
                                "SELECT * FROM QV_BIOSConfigurationEvent", "--timeout", std::to_string(seconds + 300)},
                               events, root_ / "watch.err");
    auto heard = [&] {
        std::map<std::string, long> count;
        std::istringstream in(ReadText(events));
        for (std::string line; std::getline(in, line);) {
            json e = json::parse(line, nullptr, false);
            if (e.is_object() && e["Description"].is_string()) ++count[e["Description"].get<std::string>()];
        }
        return count;
    };
    // The probe setting changes until the subscription is in place; the clients' settings are untouched so far.
    const std::string probe = SettingName(0);
    for (auto until = Clock::now() + 30s; heard()[probe] == 0 && Clock::now() < until;) {
        std::vector<std::string> args = {"call", kInterface, "SetBIOSSetting", "Name=" + probe, "Value=1", "Password="};
        ASSERT_EQ(ReturnOf(Request(0, args)), 0);
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_GT(heard()[probe], 0) << ReadText(root_ / "watch.err");

    std::vector<ClientRecord> records(kClients + 1);
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    std::vector<std::thread> clients;
    for (int client = 1; client <= kClients; ++client)
        clients.emplace_back([&, client] { RunClient(client, deadline, records[client]); });
    for (auto& c : clients) c.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    long requests = 0;
    for (int client = 1; client <= kClients; ++client) {
        const ClientRecord& r = records[client];
        requests += r.requests;
        EXPECT_EQ(r.failures, std::vector<std::string>{}) << SettingName(client);
        EXPECT_GT(r.acknowledged, 0) << SettingName(client);
    }
    const double rate = requests / elapsed;
    std::printf("load: %d clients, %ld requests in %.1f s: %.1f requests/s\n", kClients, requests, elapsed, rate);
    RecordProperty("requests", static_cast<int>(requests));
    RecordProperty("requests_per_second", std::to_string(rate));

    // One change event per stored change (a change event is raised for every stored value, also an unchanged one).
    auto all_heard = [&] {
        auto count = heard();
        for (int client = 1; client <= kClients; ++client)
            if (count[SettingName(client)] < records[client].acknowledged) return false;
        return true;
    };
    WaitUntil(all_heard, 30s);
    std::this_thread::sleep_for(500ms);  // on purpose: an event more than the changes would come now
    kill(watcher, SIGTERM);
    WaitChild(watcher, 10s);
    auto count = heard();
    for (int client = 1; client <= kClients; ++client)
        EXPECT_EQ(count[SettingName(client)], records[client].acknowledged) << SettingName(client);

    // Every setting holds the last value its client was told was stored, read by a new provider process once the
    // service, the provider and the driver have all ended by themselves.
    const char* const programs[] = {"vrxBIOS", "zmrdtct", "winmgmt"};
    WaitUntil(
        [&] {
            for (const char* program : programs)
                if (!RootProcesses(program).empty()) return false;
            return true;
        },
        40s);
    for (const char* program : programs) EXPECT_TRUE(RootProcesses(program).empty()) << program << " did not end";
    std::map<std::string, std::string> values;
    for (const json& o : Objects({"query", "SELECT Name, Value FROM QVPROV_BIOSInteger"}))
        values[o["Name"].get<std::string>()] = o["Value"].get<std::string>();
    for (int client = 1; client <= kClients; ++client)
        EXPECT_EQ(values[SettingName(client)], std::to_string(records[client].last_value)) << SettingName(client);
}

}  // namespace
}  // namespace road
