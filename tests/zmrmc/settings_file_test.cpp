// The settings file over a small model filled from raw firmware objects: the text writer's exact output, the
// reader's rules as one table of cases, and the XML document (checked with xmllint).

#include "settings_text_reader.h"
#include "settings_text_writer.h"
#include "settings_xml_document.h"

#include "qv_child_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

const std::vector<std::string> kTexts = {"English",
                                         "Language",
                                         "Serial Port",
                                         "Disable",
                                         "Enable",
                                         "--",
                                         "Asset Tag",
                                         "Volume",
                                         "Boot Order",
                                         "A",
                                         "B",
                                         "C",
                                         "D",
                                         "Port Mode",
                                         "Port A",
                                         "Port B",
                                         "ROM Revision",
                                         "ESCD",
                                         "Fan Speed",
                                         "CPU Fan",
                                         "Release Date",
                                         "Wake Time",
                                         "Setup Password",
                                         "Security",
                                         "Main",
                                         "Port C"};

uint16_t Id(const std::string& text) {
    for (size_t i = 0; i < kTexts.size(); ++i)
        if (kTexts[i] == text) return static_cast<uint16_t>(i);
    ADD_FAILURE() << "no text " << text;
    return 0xFFFF;
}

void U16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void U32(Bytes& b, uint32_t v) {
    U16(b, static_cast<uint16_t>(v));
    U16(b, static_cast<uint16_t>(v >> 16));
}
// A text padded with zeros to `capacity` bytes.
void Text(Bytes& b, const std::string& text, size_t capacity) {
    b.insert(b.end(), text.begin(), text.end());
    b.insert(b.end(), capacity - text.size(), 0);
}
void Key(Bytes& b, const std::string& sub) {
    U16(b, Id(sub));
    for (int i = 0; i < 3; ++i) U16(b, 0xFFFF);
}

const std::string kLongText =  // 130 characters, a blank right after the first cut
    std::string(62, 'a') + " " + std::string(61, 'b') + "cdefgh";
const std::string kBlankText = "  " + std::string(70, ' ') + "x ";  // blanks in every piece

// The model every case starts from: one setting of every kind.
std::unique_ptr<zmrmc::SettingsModel> FixtureModel(const std::string& asset = "QV-01") {
    auto model = std::make_unique<zmrmc::SettingsModel>();
    EXPECT_TRUE(model->BeginRead());
    uint16_t index = 0;
    auto add = [&](uint16_t type, const Bytes& value, std::vector<std::string> path = {}, uint16_t flags = 0) {
        zmrmc::ObjectInfo info;
        info.type = type;
        info.flags = flags;
        info.size = static_cast<uint32_t>(value.size());
        for (size_t i = 0; i < path.size(); ++i) info.path[i] = Id(path[i]);
        EXPECT_TRUE(model->AddObject(index++, info, value.data(), value.size()));
    };
    Bytes table;
    U16(table, 0);
    for (const auto& t : kTexts) Text(table, t + '\0', t.size() + 1);
    U16(table, 0xFFFF);
    add(SRI_TYPE_STRING_TABLE, table, {}, SRI_FLAG_READ_ONLY);

    Bytes serial;
    U16(serial, Id("Serial Port"));
    U16(serial, 2);
    for (const char* c : {"Disable", "--", "Enable"}) U16(serial, Id(c));
    U16(serial, 0xFFFF);
    add(SRI_TYPE_ENUM, serial, {"Security"});

    Bytes text;
    U16(text, Id("Asset Tag"));
    Text(text, asset, 131);
    add(SRI_TYPE_TEXT, text, {"Security", "Main"});

    Bytes volume;
    U16(volume, Id("Volume"));
    U32(volume, 0);
    U32(volume, 1000);
    U32(volume, 300);
    add(SRI_TYPE_INTEGER, volume, {"Main"});

    Bytes order;
    U16(order, Id("Boot Order"));
    for (const char* e : {"A", "B", "C", "D"}) U16(order, Id(e));
    U16(order, 0xFFFF);
    add(SRI_TYPE_ORDERED_LIST, order);

    for (auto [sub, current] : {std::pair{"Port A", 0}, std::pair{"Port B", 1}}) {
        Bytes port;
        U16(port, Id("Port Mode"));
        U16(port, static_cast<uint16_t>(current));
        Key(port, sub);
        U16(port, Id("Disable"));
        U16(port, Id("Enable"));
        add(SRI_TYPE_KEYED_ENUM, port);
    }

    Bytes rom;
    U16(rom, Id("ROM Revision"));
    Text(rom, "v1.0", 9);
    add(SRI_TYPE_TEXT, rom, {}, SRI_FLAG_READ_ONLY);

    Bytes escd;
    U16(escd, Id("ESCD"));
    U32(escd, 0x04030201);
    add(SRI_TYPE_BINARY, escd);

    Bytes fan;
    U16(fan, Id("Fan Speed"));
    U32(fan, 0);
    U32(fan, 0xFFFFFFFF);
    U32(fan, 30);
    Key(fan, "CPU Fan");
    add(SRI_TYPE_KEYED_INTEGER, fan);

    Bytes date;
    U16(date, Id("Release Date"));
    Text(date, "07/12/2006", 11);
    add(SRI_TYPE_DATE, date);

    Bytes time;
    U16(time, Id("Wake Time"));
    Text(time, "06:30", 6);
    add(SRI_TYPE_TIME, time);

    Bytes password;
    U16(password, Id("Setup Password"));
    Text(password, "", 33);
    add(SRI_TYPE_PASSWORD, password, {"Security"});
    model->EndRead();
    return model;
}

std::string Saved(zmrmc::SettingsModel& model) {
    std::string text;
    EXPECT_TRUE(zmrmc::BuildSettingsText(model, &text));
    return text;
}

SRI& Setting(zmrmc::SettingsModel& model, const std::string& name, const char* sub = nullptr) {
    uint16_t key[4] = {sub != nullptr ? Id(sub) : uint16_t{0xFFFF}, 0xFFFF, 0xFFFF, 0xFFFF};
    SRI* sri = model.Find(Id(name), key);
    EXPECT_NE(sri, nullptr) << name;
    return *sri;
}

std::string Value(const SRI& sri) { return std::string(zmrmc::ValueText(sri)); }

std::vector<std::string> List(const SRI& sri) {
    std::vector<std::string> names;
    for (size_t i = 0; i < zmrmc::ListLength(sri); ++i) names.push_back(kTexts[zmrmc::ListEntry(sri, i)]);
    return names;
}

std::vector<std::string> Flagged(zmrmc::SettingsModel& model) {
    std::vector<std::string> names;
    for (int i = 0; i < model.Count(); ++i)
        if (model.At(i)->changed != 0) names.push_back(kTexts[model.At(i)->nameId]);
    return names;
}

std::string Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(SettingsTextWriter, WritesEveryKindAsItsLines) {
    auto model = FixtureModel(kLongText);
    EXPECT_EQ(Saved(*model),
              "English\r\n"
              "Serial Port\r\n\tDisable\r\n\t*Enable\r\n"  // the "--" choice has no line
              "Asset Tag\r\n\t" +
                  kLongText.substr(0, 62) + "\r\n\t" + kLongText.substr(62, 62) + "\r\n\t" + kLongText.substr(124) +
                  "\r\n"
                  "Volume\r\n\t0\r\n\t1000\r\n\t300\r\n"
                  "Boot Order\r\n\tA\r\n\tB\r\n\tC\r\n\tD\r\n"
                  "Port Mode\\Port A\r\n\t*Disable\r\n\tEnable\r\n"
                  "Port Mode\\Port B\r\n\tDisable\r\n\t*Enable\r\n"
                  "ROM Revision\r\n\tv1.0\r\n"
                  "ESCD\r\n"
                  "Fan Speed\\CPU Fan\r\n\t0\r\n\t-1\r\n\t30\r\n"
                  "Release Date\r\n\t07/12/2006\r\n"
                  "Wake Time\r\n\t06:30\r\n"
                  "Setup Password\r\n\t\r\n");
    EXPECT_EQ(kLongText.substr(124).size(), 6u);
}

TEST(SettingsTextWriter, RefusesWithoutLanguageOrWhenTheFileCannotBeWritten) {
    zmrmc::SettingsModel empty;
    std::string text = "untouched";
    EXPECT_FALSE(zmrmc::BuildSettingsText(empty, &text));
    EXPECT_EQ(text, "untouched");
    fs::path folder = fs::temp_directory_path() / ("qv-settings-" + std::to_string(getpid()));
    fs::create_directories(folder);
    auto model = FixtureModel();
    EXPECT_FALSE(zmrmc::WriteSettingsText(*model, folder.c_str()));                        // a folder
    EXPECT_FALSE(zmrmc::WriteSettingsText(*model, (folder / "no" / "such.txt").c_str()));  // no folder
    EXPECT_FALSE(zmrmc::WriteSettingsXml(*model, folder.c_str()));
    EXPECT_FALSE(zmrmc::WriteSettingsText(empty, (folder / "none.txt").c_str()));
    EXPECT_FALSE(fs::exists(folder / "none.txt"));
    ASSERT_TRUE(zmrmc::WriteSettingsText(*model, (folder / "saved.txt").c_str()));
    EXPECT_EQ(Contents(folder / "saved.txt"), Saved(*model));
    fs::remove_all(folder);
}

// What reading a file does to the fixture. `file` is the whole file; `check` sees the model afterwards.
struct ReadCase {
    const char* what;
    std::string file;
    bool taken;
    std::vector<std::string> flagged;
    std::function<void(zmrmc::SettingsModel&)> check;
};

TEST(SettingsTextReader, EdgeCases) {
    const std::string E = "English\r\n";
    const std::vector<ReadCase> cases = {
        {"first line in other case", "english\r\nSerial Port\r\n\t*Disable\r\n", false, {}, nullptr},
        {"first line names another language", "Deutsch\r\nSerial Port\r\n\t*Disable\r\n", false, {}, nullptr},
        {"empty file", "", false, {}, nullptr},
        {"no star: flagged without a selection",
         E + "Serial Port\r\n\tDisable\r\n\tEnable\r\n",
         true,
         {"Serial Port"},
         [](auto& m) { EXPECT_EQ(Setting(m, "Serial Port").currentIndex, 0xFFFF); }},
        {"header alone: no selection either",
         E + "Serial Port\r\n",
         true,
         {"Serial Port"},
         [](auto& m) { EXPECT_EQ(Setting(m, "Serial Port").currentIndex, 0xFFFF); }},
        {"two stars: the first wins",
         E + "Serial Port\r\n\t*Disable\r\n\t*Enable\r\n",
         true,
         {"Serial Port"},
         [](auto& m) { EXPECT_EQ(Setting(m, "Serial Port").currentIndex, 0); }},
        {"an unknown starred choice does not count",
         E + "Serial Port\r\n\t*Maybe\r\n\t*enable\r\n",
         true,
         {"Serial Port"},
         [](auto& m) { EXPECT_EQ(Setting(m, "Serial Port").currentIndex, 2); }},
        {"integer above the range",
         E + "Volume\r\n\t5\r\n\t10\r\n\t20\r\n",
         true,
         {"Volume"},
         [](auto& m) {
             SRI& v = Setting(m, "Volume");
             EXPECT_EQ(v.lowerBound, 5u);
             EXPECT_EQ(v.upperBound, 10u);
             EXPECT_EQ(zmrmc::IntegerValue(v), 10u);
         }},
        {"integer below the range",
         E + "Volume\r\n\t5\r\n\t10\r\n\t3\r\n\t99\r\n",
         true,
         {"Volume"},
         [](auto& m) { EXPECT_EQ(zmrmc::IntegerValue(Setting(m, "Volume")), 5u); }},
        {"integer in range",
         E + "Volume\r\n\t5\r\n\t10\r\n\t7\r\n",
         true,
         {"Volume"},
         [](auto& m) { EXPECT_EQ(zmrmc::IntegerValue(Setting(m, "Volume")), 7u); }},
        {"malformed numbers change no field",
         E + "Volume\r\n\tfive\r\n\t10x\r\n\t99999999999\r\n",
         true,
         {"Volume"},
         [](auto& m) {
             SRI& v = Setting(m, "Volume");
             EXPECT_EQ(v.lowerBound, 0u);
             EXPECT_EQ(v.upperBound, 1000u);
             EXPECT_EQ(zmrmc::IntegerValue(v), 300u);
         }},
        {"signed numbers as the writer writes them",
         E + "Fan Speed\\CPU Fan\r\n\t0\r\n\t-1\r\n\t-2\r\n",
         true,
         {"Fan Speed"},
         [](auto& m) {
             SRI& f = Setting(m, "Fan Speed", "CPU Fan");
             EXPECT_EQ(f.upperBound, 0xFFFFFFFFu);
             EXPECT_EQ(zmrmc::IntegerValue(f), 0xFFFFFFFEu);
         }},
        {"ordered list: named elements to the front",
         E + "Boot Order\r\n\tD\r\n\tB\r\n",
         true,
         {"Boot Order"},
         [](auto& m) {
             EXPECT_EQ(List(Setting(m, "Boot Order")), (std::vector<std::string>{"D", "B", "A", "C"}));
         }},
        {"ordered list: unknown and repeated elements skipped",
         E + "Boot Order\r\n\tC\r\n\tX\r\n\tC\r\n\ta\r\n",
         true,
         {"Boot Order"},
         [](auto& m) {
             EXPECT_EQ(List(Setting(m, "Boot Order")), (std::vector<std::string>{"C", "A", "B", "D"}));
         }},
        {"130-character text in pieces reads back whole",
         E + "Asset Tag\r\n\t" + kLongText.substr(0, 62) + "\r\n\t" + kLongText.substr(62, 62) + "\r\n\t" +
             kLongText.substr(124) + "\r\n",
         true,
         {"Asset Tag"},
         [](auto& m) { EXPECT_EQ(Value(Setting(m, "Asset Tag")), kLongText); }},
        {"a text longer than its buffer gets a buffer of its size",
         E + "Asset Tag\r\n\t" + std::string(300, 'x'),
         true,
         {"Asset Tag"},
         [](auto& m) {
             SRI& a = Setting(m, "Asset Tag");
             EXPECT_EQ(Value(a), std::string(300, 'x'));
             EXPECT_EQ(uint32_t{a.valueSize}, 301u);  // a copy: the record is packed
         }},
        {"the tab alone is the empty text",
         E + "Asset Tag\r\n\t\r\n",
         true,
         {"Asset Tag"},
         [](auto& m) {
             SRI& a = Setting(m, "Asset Tag");
             EXPECT_EQ(Value(a), "");
             EXPECT_EQ(uint32_t{a.valueSize}, 131u);  // the buffer keeps its size (a copy: the record is packed)
         }},
        {"a text block without value lines keeps the text",
         E + "Asset Tag\r\n",
         true,
         {"Asset Tag"},
         [](auto& m) { EXPECT_EQ(Value(Setting(m, "Asset Tag")), "QV-01"); }},
        {"a date takes its last line",
         E + "Release Date\r\n\t01/01/2000\r\n\t02/02/2002\r\n\t\r\n",
         true,
         {"Release Date"},
         [](auto& m) { EXPECT_EQ(Value(Setting(m, "Release Date")), "02/02/2002"); }},
        {"blanks after the writer's tab belong to the text",
         E + "Asset Tag\r\n\t  padded \r\n",
         true,
         {"Asset Tag"},
         [](auto& m) { EXPECT_EQ(Value(Setting(m, "Asset Tag")), "  padded "); }},
        {"a line indented with blanks loses them",
         E + "Asset Tag\r\n   by hand\r\n",
         true,
         {"Asset Tag"},
         [](auto& m) { EXPECT_EQ(Value(Setting(m, "Asset Tag")), "by hand"); }},
        {"keyed setting found by its sub-name",
         E + "Port Mode\\Port B\r\n\t*Disable\r\n",
         true,
         {"Port Mode"},
         [](auto& m) {
             EXPECT_EQ(Setting(m, "Port Mode", "Port B").currentIndex, 0);
             EXPECT_EQ(Setting(m, "Port Mode", "Port A").changed, 0u);
         }},
        {"unknown or unmatched sub-names skip the block",
         E + "Port Mode\\Nowhere\r\n\t*Enable\r\nPort Mode\\Port C\r\n\t*Enable\r\n"
             "Port Mode\\Port A\\Port A\\Port A\\Port A\\Port A\r\n\t*Enable\r\n",
         true,
         {},
         nullptr},
        {"read-only and unknown settings skipped, the next block taken",
         E + "ROM Revision\r\n\tv9\r\nNo Such Setting\r\n\t*Enable\r\n\tSerial Port\r\nSerial Port\r\n\t*Disable\r\n",
         true,
         {"Serial Port"},
         [](auto& m) {
             EXPECT_EQ(Value(Setting(m, "ROM Revision")), "v1.0");
             EXPECT_EQ(Setting(m, "Serial Port").currentIndex, 0);
         }},
        {"bare line feeds, value lines before any header ignored",
         "English\n\t*Disable\n\tjunk\nSerial Port\n\t*Disable\n",
         true,
         {"Serial Port"},
         [](auto& m) { EXPECT_EQ(Setting(m, "Serial Port").currentIndex, 0); }},
        {"ESCD is read like any byte block: flagged, values ignored",
         E + "ESCD\r\n\tjunk\r\n",
         true,
         {"ESCD"},
         [](auto& m) { EXPECT_EQ(zmrmc::IntegerValue(Setting(m, "ESCD")), 0x04030201u); }},
        {"binary junk names nothing",
         E + std::string("Serial\0Port\r\n\t*\xff\x01\r\n\x80\x81\r\n", 22),
         true,
         {},
         nullptr},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        auto model = FixtureModel();
        std::string before = Saved(*model);
        EXPECT_EQ(zmrmc::ApplySettingsText(*model, c.file), c.taken);
        EXPECT_EQ(Flagged(*model), c.flagged);
        if (c.check) c.check(*model);
        if (!c.taken || c.flagged.empty()) {
            EXPECT_EQ(Saved(*model), before);
        }
    }
}

// What the writer wrote reads back to the same records: saving again gives the same bytes.
TEST(SettingsTextReader, WhatTheWriterWroteReadsBackUnchanged) {
    auto model = FixtureModel(kLongText);
    std::string first = Saved(*model);
    auto other = FixtureModel("something else entirely");
    ASSERT_TRUE(zmrmc::ApplySettingsText(*other, first));
    EXPECT_EQ(Saved(*other), first);
    auto blanks = FixtureModel(kBlankText);
    ASSERT_TRUE(zmrmc::ApplySettingsText(*other, Saved(*blanks)));
    EXPECT_EQ(Value(Setting(*other, "Asset Tag")), kBlankText);
}

TEST(SettingsTextReader, FilesThatCannotBeReadChangeNothing) {
    fs::path folder = fs::temp_directory_path() / ("qv-settings-read-" + std::to_string(getpid()));
    fs::create_directories(folder);
    auto model = FixtureModel();
    std::string before = Saved(*model);
    EXPECT_FALSE(zmrmc::ReadSettingsText(*model, folder.c_str()));
    EXPECT_FALSE(zmrmc::ReadSettingsText(*model, (folder / "missing.txt").c_str()));
    EXPECT_FALSE(zmrmc::ReadSettingsText(*model, nullptr));
    std::ofstream(folder / "other.txt") << "Deutsch\r\nSerial Port\r\n\t*Disable\r\n";
    EXPECT_FALSE(zmrmc::ReadSettingsText(*model, (folder / "other.txt").c_str()));
    EXPECT_EQ(Saved(*model), before);
    EXPECT_TRUE(Flagged(*model).empty());
    std::ofstream(folder / "good.txt") << "English\nSerial Port\n\t*Disable\n";
    EXPECT_TRUE(zmrmc::ReadSettingsText(*model, (folder / "good.txt").c_str()));
    EXPECT_EQ(Setting(*model, "Serial Port").currentIndex, 0);
    fs::remove_all(folder);
}

TEST(SettingsXmlDocument, EveryKindButEscdAndStringTables) {
    fs::path folder = fs::temp_directory_path() / ("qv-settings-xml-" + std::to_string(getpid()));
    fs::create_directories(folder);
    auto model = FixtureModel("Tag & <co>");
    fs::path path = folder / "config.xml";
    ASSERT_TRUE(zmrmc::WriteSettingsXml(*model, path.c_str()));
    std::string xml = Contents(path);
    pid_t lint = StartChild({"/usr/bin/xmllint", "--noout", path.string()}, folder / "lint.out", folder / "lint.err");
    EXPECT_EQ(WaitChild(lint, std::chrono::seconds(30)), 0) << Contents(folder / "lint.err");

    for (const char* expected : {
             "<BiosConfig>\n  <Language Name=\"English\">\n    <STR ID=\"0\">English</STR>\n",
             "<STR ID=\"25\">Port C</STR>\n  </Language>\n",
             "<Setting Menu.0=\"23\" Type=\"enum\" SelectedIndex=\"2\">\n    <Name StrID=\"2\">Serial Port</Name>\n"
             "    <Value StrID=\"3\" Index=\"0\">Disable</Value>\n    <Value StrID=\"5\" Index=\"1\">--</Value>\n",
             "<Setting Menu.0=\"23\" Menu.1=\"24\" Type=\"alpha\">\n    <Name StrID=\"6\">Asset Tag</Name>\n"
             "    <Value MaxSize=\"131\">Tag &amp; &lt;co&gt;</Value>\n",
             "<Setting Menu.0=\"24\" Type=\"int\">\n    <Name StrID=\"7\">Volume</Name>\n"
             "    <Value Min=\"0\" Max=\"1000\">300</Value>\n",
             "<Setting Type=\"orderedlist\" Size=\"5\">\n",
             "<Setting Type=\"ext_enum\" SelectedIndex=\"1\">\n    <Name StrID=\"13\">Port Mode</Name>\n"
             "    <SubName StrID=\"15\" Index=\"0\">Port B</SubName>\n    <Value StrID=\"3\" "
             "Index=\"0\">Disable</Value>\n",
             "<Setting ReadOnly=\"true\" Type=\"alpha\">\n    <Name StrID=\"16\">ROM Revision</Name>\n",
             "<Value Min=\"0\" Max=\"-1\">30</Value>\n    <SubName StrID=\"19\" Index=\"0\">CPU Fan</SubName>\n",
             "<Setting Type=\"date\">\n    <Name StrID=\"20\">Release Date</Name>\n"
             "    <Value Min=\"0\" Max=\"11\">07/12/2006</Value>\n",
             "<Setting Menu.0=\"23\" Type=\"password\">\n    <Name StrID=\"22\">Setup Password</Name>\n"
             "    <Value MaxSize=\"128\"></Value>\n",
         })
        EXPECT_NE(xml.find(expected), std::string::npos) << expected << "\nin\n" << xml;
    EXPECT_NE(xml.find("<STR ID=\"17\">ESCD</STR>"), std::string::npos);
    EXPECT_EQ(xml.find("<Name StrID=\"17\">"), std::string::npos);  // the setting is left out
    fs::remove_all(folder);
}

}  // namespace
