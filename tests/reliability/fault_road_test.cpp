// Processes of the real road killed (kill -9) at random points of their work, many times: the client in the
// middle of an enumeration, the provider and the driver in the middle of a commit, the instrumentation service
// in the middle of a method, the MOF compiler in the middle of an installation. After each kill the next
// request succeeds and the setting holds its value from before or after the interrupted write; once the road
// is idle nothing of it runs any more (the killed provider's driver included) and no announcement or socket
// of a dead process is left, and the repository opens. QVT_FAULT_ROUNDS sets the kills per case (default 3),
// QVT_FAULT_SEED the random points (printed).
#include "settings_road.h"

#include <sys/stat.h>

#include <random>

namespace road {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr char kInterface[] = "QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"";
constexpr char kSetting[] = "POST Delay (in seconds)";

// What is killed and while doing what.
enum class Victim { kClient, kProvider, kDriver, kService, kCompiler };
struct FaultCase {
    Victim victim;
    const char* name;
};
const FaultCase kCases[] = {
    {Victim::kClient, "client mid-enumeration"},     {Victim::kProvider, "provider mid-commit"},
    {Victim::kDriver, "driver mid-request"},         {Victim::kService, "service mid-method"},
    {Victim::kCompiler, "mofcomp mid-installation"},
};

class FaultRoad : public SettingsRoadTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    void SetUp() override {
        SettingsRoadTest::SetUp();
        setenv("QV_DRIVER_IDLE_MS", "1000", 1);
    }
    void TearDown() override {
        SettingsRoadTest::TearDown();
        unsetenv("QV_DRIVER_IDLE_MS");
    }

    pid_t Start(std::vector<std::string> args, const std::string& name) {
        return StartChild(args, root_ / (name + ".out"), root_ / (name + ".err"));
    }
    std::vector<std::string> WmiArgs(std::vector<std::string> args) {
        args.insert(args.begin(), {BuildTree() + "/bin/wmi", "--format", "json"});
        return args;
    }
    std::vector<std::string> SetArgs(int value) {
        return WmiArgs({"call", kInterface, "SetBIOSSetting", std::string("Name=") + kSetting,
                        "Value=" + std::to_string(value), "Password="});
    }
    // The setting's value through a query (a new provider when none runs); "" when the query failed.
    std::string Value() {
        for (const json& o : Objects({"query", "SELECT Name, Value FROM QVPROV_BIOSInteger"}))
            if (o["Name"] == kSetting) return o["Value"].get<std::string>();
        return "";
    }

    // The first process of `program` on the root, waited for at most 20 s (0 when none came).
    pid_t AwaitProcess(const std::string& program) {
        pid_t found = 0;
        WaitUntil(
            [&] {
                auto now = RootProcesses(program);
                found = now.empty() ? 0 : now.front();
                return found != 0;
            },
            20s);
        return found;
    }

    // Until nothing of the road runs; then what is left that should not be: announcements and sockets of dead
    // processes and the driver's sockets.
    std::vector<std::string> LeftWhenIdle() {
        std::vector<std::string> left;
        const char* const programs[] = {"vrxBIOS", "zmrdtct", "winmgmt", "mofcomp"};
        WaitUntil(
            [&] {
                for (const char* program : programs)
                    if (!RootProcesses(program).empty()) return false;
                return true;
            },
            40s);
        for (const char* program : programs)
            if (!RootProcesses(program).empty()) left.push_back(std::string(program) + " still runs");
        std::error_code ec;
        for (const char* folder : {"com/run", "com/running"})
            for (auto it = std::filesystem::directory_iterator(root_ / folder, ec);
                 !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
                left.push_back(it->path().string());
        for (auto it = std::filesystem::directory_iterator(root_ / "devices", ec);
             !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            struct stat st {};
            if (lstat(it->path().c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) left.push_back(it->path().string());
        }
        return left;
    }
};

TEST_P(FaultRoad, TheNextRequestSucceedsAndNothingIsLeft) {
    const FaultCase fault = GetParam();
    const char* rounds_text = std::getenv("QVT_FAULT_ROUNDS");
    const int rounds = rounds_text != nullptr && std::atoi(rounds_text) > 0 ? std::atoi(rounds_text) : 3;
    const char* seed_text = std::getenv("QVT_FAULT_SEED");
    const unsigned seed = seed_text != nullptr ? static_cast<unsigned>(std::strtoul(seed_text, nullptr, 10))
                                               : static_cast<unsigned>(Clock::now().time_since_epoch().count());
    std::printf("%s: %d kills, QVT_FAULT_SEED=%u\n", fault.name, rounds, seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_ms(0, 400);
    Prepare("desktop", 300);

    std::string value = Value();
    ASSERT_NE(value, "");
    int next = 1;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE(std::string(fault.name) + ", round " + std::to_string(round));
        const auto delay = std::chrono::milliseconds(delay_ms(random));
        const int attempted = next++ % 60 + 1;
        pid_t request = -1;
        pid_t victim = 0;
        switch (fault.victim) {
        case Victim::kClient:
            request = Start(WmiArgs({"query", "SELECT * FROM QVPROV_BIOSEnumeration"}), "request");
            std::this_thread::sleep_for(delay);
            victim = request;
            break;
        case Victim::kProvider:
        case Victim::kDriver:
        case Victim::kService: {
            request = Start(SetArgs(attempted), "request");
            const char* program = fault.victim == Victim::kProvider ? "vrxBIOS"
                                  : fault.victim == Victim::kDriver ? "zmrdtct"
                                                                    : "winmgmt";
            victim = AwaitProcess(program);
            std::this_thread::sleep_for(delay);
            break;
        }
        case Victim::kCompiler:
            request = Start({BuildTree() + "/bin/mofcomp", SourceTree() + "/mof/swprov.mof"}, "request");
            std::this_thread::sleep_for(delay / 4);
            victim = request;
            break;
        }
        ASSERT_GT(victim, 0) << "nothing to kill";
        kill(victim, SIGKILL);
        // The interrupted request ends by itself, whatever it answers (the victim's own wait reaps it).
        int ended = WaitChild(request, 60s);
        ASSERT_NE(ended, -2) << "the interrupted request hung";

        if (fault.victim == Victim::kCompiler) {
            Result compiled = Run({BuildTree() + "/bin/mofcomp", SourceTree() + "/mof/swprov.mof"});
            ASSERT_EQ(compiled.code, 0) << compiled.out << compiled.err;
        }
        // The firmware holds the value from before or after the interrupted write.
        std::string now = Value();
        if (fault.victim == Victim::kClient || fault.victim == Victim::kCompiler)
            EXPECT_EQ(now, value);
        else
            EXPECT_TRUE(now == value || now == std::to_string(attempted))
                << now << " after " << value << " and " << attempted;
        // The next request succeeds.
        const int stored = next++ % 60 + 1;
        Result set = Run(SetArgs(stored));
        ASSERT_EQ(set.code, 0) << set.err;
        EXPECT_EQ(json::parse(set.out)[0]["Return"], 0);
        value = std::to_string(stored);
        EXPECT_EQ(Value(), value);
        if (HasFailure()) {
            // What the service, the provider and the driver said last, for the round that went wrong.
            std::string debug = DebugOutput();
            ADD_FAILURE() << "debugger output, last part:\n"
                          << debug.substr(debug.size() - std::min<size_t>(debug.size(), 6000));
            return;
        }
    }
    EXPECT_EQ(LeftWhenIdle(), std::vector<std::string>{});
    Result schema = Wmi({"class", "QVPROV_BIOSEnumeration"});
    EXPECT_EQ(schema.code, 0) << "the repository opens: " << schema.err;
    EXPECT_EQ(Value(), value);
}

INSTANTIATE_TEST_SUITE_P(Kills, FaultRoad, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& param_info) {
                             std::string name = param_info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

}  // namespace
}  // namespace road
