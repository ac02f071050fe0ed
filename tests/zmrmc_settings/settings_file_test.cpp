// The settings file through the real library and its driver on fresh system roots: save, read back and save
// again on every shipped machine, the XML document, and files the reader must refuse or take harmlessly.

#include "loaded_library.h"
#include "qv_child_process.h"
#include "qv_temp_root.h"

#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <utility>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool XmlLintAccepts(const fs::path& path, const fs::path& scratch) {
    pid_t lint = StartChild({"/usr/bin/xmllint", "--noout", path.string()}, scratch / "lint.out", scratch / "lint.err");
    bool accepted = WaitChild(lint, std::chrono::seconds(30)) == 0;
    if (!accepted) ADD_FAILURE() << Contents(scratch / "lint.err");
    return accepted;
}

class SettingsFileRoad : public TempRootTest {
protected:
    void Load(const std::string& profile) {
        ASSERT_TRUE(library_.Load(profile));
        init_ = ZMRMC_EXPORT(library_, ZmrMCInit);
        read_system_ = ZMRMC_EXPORT(library_, BiosSettingsReadFromSystem);
        write_file_ = ZMRMC_EXPORT(library_, BiosSettingsWriteToFile);
        read_file_ = ZMRMC_EXPORT(library_, BiosSettingsReadFromFile);
        release_ = ZMRMC_EXPORT(library_, BiosSRIRelease);
        count_ = ZMRMC_EXPORT(library_, BiosSettingsSRIEnumCount);
        at_ = ZMRMC_EXPORT(library_, BiosSettingsSRIEnumGetAt);
        text_ = ZMRMC_EXPORT(library_, BiosSettingsFindStringFromID);
        id_ = ZMRMC_EXPORT(library_, BiosSettingsFindIDFromString);
        find_ = ZMRMC_EXPORT(library_, BiosSettingsFindSRI);
    }
    void TearDown() override {
        library_.Unload();
        TempRootTest::TearDown();
    }
    std::string Path(const char* name) const { return (root_ / name).string(); }
    std::string Save(const char* name) {
        EXPECT_EQ(write_file_(Path(name).c_str(), 1, nullptr), 1) << name;
        return Contents(root_ / name);
    }
    SRI* Named(const char* name) {
        uint16_t id = 0;
        EXPECT_TRUE(id_(&id, name)) << name;
        SRI* sri = find_(id, nullptr);
        EXPECT_NE(sri, nullptr) << name;
        return sri;
    }
    int Flagged() {
        int flagged = 0;
        for (int i = 0; i < count_(); ++i) {
            uint32_t changed = 0;
            std::memcpy(&changed, reinterpret_cast<const uint8_t*>(at_(i)) + offsetof(SRI, changed), 4);
            flagged += changed != 0;
        }
        return flagged;
    }

    LoadedLibrary library_;
    decltype(&ZmrMCInit) init_ = nullptr;
    decltype(&BiosSettingsReadFromSystem) read_system_ = nullptr;
    decltype(&BiosSettingsWriteToFile) write_file_ = nullptr;
    decltype(&BiosSettingsReadFromFile) read_file_ = nullptr;
    decltype(&BiosSRIRelease) release_ = nullptr;
    decltype(&BiosSettingsSRIEnumCount) count_ = nullptr;
    decltype(&BiosSettingsSRIEnumGetAt) at_ = nullptr;
    decltype(&BiosSettingsFindStringFromID) text_ = nullptr;
    decltype(&BiosSettingsFindIDFromString) id_ = nullptr;
    decltype(&BiosSettingsFindSRI) find_ = nullptr;
};

struct Profile {
    const char* name;
    bool has_settings;  // the firmware has settings the library can read
};

class SettingsFileEveryProfile : public SettingsFileRoad, public ::testing::WithParamInterface<Profile> {};

// Saved, read back and saved again: the same bytes; the XML document of the same settings is well-formed.
TEST_P(SettingsFileEveryProfile, SaveReadSaveGivesTheSameBytes) {
    ASSERT_NO_FATAL_FAILURE(Load(GetParam().name));
    ASSERT_TRUE(init_(0, 1));
    if (!GetParam().has_settings) {
        EXPECT_EQ(write_file_(Path("first.txt").c_str(), 1, nullptr), 0);  // nothing to save
        EXPECT_EQ(read_file_(Path("first.txt").c_str(), nullptr), 0);
        EXPECT_FALSE(fs::exists(root_ / "first.txt"));
        return;
    }
    // Written before any read: the library reads the firmware itself and gives that read's reference back.
    std::string first = Save("first.txt");
    ASSERT_EQ(first.rfind("English\r\n", 0), 0u) << first;
    EXPECT_EQ(release_(), 0);
    EXPECT_EQ(Flagged(), 0);
    ASSERT_EQ(read_file_(Path("first.txt").c_str(), nullptr), 1);
    EXPECT_GT(Flagged(), 0);
    EXPECT_EQ(Save("second.txt"), first);

    ASSERT_EQ(write_file_(Path("settings.xml").c_str(), 0, nullptr), 1);
    EXPECT_TRUE(XmlLintAccepts(root_ / "settings.xml", root_));
    EXPECT_EQ(Contents(root_ / "settings.xml").rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BiosConfig>", 0),
              0u);

    // A new read from the firmware drops what the file set; saving gives the firmware's settings again.
    ASSERT_EQ(read_system_(nullptr), 1);
    EXPECT_EQ(Flagged(), 0);
    EXPECT_EQ(Save("third.txt"), first);
}

INSTANTIATE_TEST_SUITE_P(Shipped, SettingsFileEveryProfile,
                         ::testing::Values(Profile{"desktop", true}, Profile{"laptop-legacy", true},
                                           Profile{"native-wmi", true}, Profile{"x64", false},
                                           Profile{"unsupported", false}),
                         [](const auto& param_info) {
                             std::string name = param_info.param.name;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

// The file puts back settings of every kind that were changed in memory since it was saved.
TEST_F(SettingsFileRoad, FileRestoresEveryKindOfSetting) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(init_(0, 1));
    ASSERT_EQ(read_system_(nullptr), 1);
    std::string saved = Save("saved.txt");
    Named("Serial Port A")->currentIndex = 0;
    std::strcpy(static_cast<char*>(Named("Asset Tracking Number")->value), "CHANGED");
    std::strcpy(static_cast<char*>(Named("Power-On Time")->value), "07:45");
    SRI* delay = Named("POST Delay (in seconds)");
    uint32_t five = 5;
    std::memcpy(delay->value, &five, 4);
    delay->upperBound = 30;
    SRI* order = Named("Boot Order");
    uint16_t first_two[2];
    std::memcpy(first_two, order->value, 4);
    std::swap(first_two[0], first_two[1]);
    std::memcpy(order->value, first_two, 4);
    uint16_t sata1[4] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    ASSERT_TRUE(id_(&sata1[0], "SATA 1"));
    uint16_t sata = 0;
    ASSERT_TRUE(id_(&sata, "SATA Port"));
    SRI* port = find_(sata, sata1);
    ASSERT_NE(port, nullptr);
    port->currentIndex = 1;
    std::string changed = Save("changed.txt");
    ASSERT_NE(changed, saved);

    ASSERT_EQ(read_file_(Path("saved.txt").c_str(), nullptr), 1);
    EXPECT_EQ(Save("restored.txt"), saved);
    EXPECT_STREQ(static_cast<const char*>(Named("Asset Tracking Number")->value), "QV-ASSET-01");
}

TEST_F(SettingsFileRoad, NothingToWriteBeforeTheLibraryIsInitialised) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    EXPECT_EQ(write_file_(Path("early.txt").c_str(), 1, nullptr), 0);
    EXPECT_EQ(write_file_(Path("early.xml").c_str(), 0, nullptr), 0);
    EXPECT_EQ(read_file_(Path("early.txt").c_str(), nullptr), 0);
    EXPECT_FALSE(fs::exists(root_ / "early.txt"));
    EXPECT_FALSE(fs::exists(root_ / "early.xml"));
}

// Bad files: refused, or taken without touching what they do not name; never a crash.
TEST_F(SettingsFileRoad, BadFilesChangeNothingTheyDoNotName) {
    ASSERT_NO_FATAL_FAILURE(Load("desktop"));
    ASSERT_TRUE(init_(0, 1));
    ASSERT_EQ(read_system_(nullptr), 1);
    std::string saved = Save("saved.txt");
    auto write = [&](const char* name, const std::string& text) {
        std::ofstream(root_ / name, std::ios::binary) << text;
        return Path(name);
    };
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) % 256);
    const std::string megabytes(4 << 20, 'A');
    fs::create_directories(root_ / "folder.txt");
    std::string unreadable = write("unreadable.txt", saved);
    chmod(unreadable.c_str(), 0);
    std::string huge = Path("huge.txt");
    {
        std::ofstream(huge, std::ios::binary) << "English\r\n";
        fs::resize_file(huge, (64u << 20) + 1);  // over the largest file taken in
    }

    struct Case {
        const char* what;
        std::string path;
        int result;
    };
    const Case cases[] = {
        {"missing file", Path("missing.txt"), 0},
        {"a folder", Path("folder.txt"), 0},
        {"another language", write("german.txt", "Deutsch\r\nSerial Port A\r\n\t*Device hidden\r\n"), 0},
        {"binary junk", write("junk.bin", junk), 0},
        {"binary junk after the first line", write("junk.txt", "English\r\n" + junk), 1},
        {"a header line of megabytes", write("long-header.txt", "English\r\n" + megabytes + "\r\n\t*On\r\n"), 1},
        {"a value line of megabytes for no setting", write("long-value.txt", "English\r\n\t" + megabytes), 1},
        {"unknown settings and values",
         write("unknown.txt", "English\r\nNo Such Setting\r\n\t*On\r\nSerial Port A\\SATA 0\\x\r\n\t*On\r\n"), 1},
        {"more than 64 MB", huge, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(read_file_(c.path.c_str(), nullptr), c.result);
        EXPECT_EQ(Flagged(), 0);
        EXPECT_EQ(Save("after.txt"), saved);
    }
    if (geteuid() != 0) {
        EXPECT_EQ(read_file_(unreadable.c_str(), nullptr), 0);  // root reads it anyway
        EXPECT_EQ(Flagged(), 0);
    }

    // Malformed numbers leave the integer as it is (flagged, so a commit finds nothing to write); a value of
    // megabytes for a text setting is taken whole.
    ASSERT_EQ(read_file_(write("numbers.txt",
                               "English\r\nPOST Delay (in seconds)\r\n\t0\r\n\tsixty\r\n\t0x10\r\n"
                               "Asset Tracking Number\r\n\t" +
                                   megabytes + "\r\n")
                             .c_str(),
                         nullptr),
              1);
    EXPECT_EQ(Flagged(), 2);
    SRI* delay = Named("POST Delay (in seconds)");
    uint32_t value = 1;
    std::memcpy(&value, delay->value, 4);
    EXPECT_EQ(value, 0u);
    EXPECT_EQ(delay->upperBound, 60u);
    EXPECT_EQ(std::strlen(static_cast<const char*>(Named("Asset Tracking Number")->value)), megabytes.size());
}

}  // namespace
