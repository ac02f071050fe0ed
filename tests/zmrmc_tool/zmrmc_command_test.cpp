// zmrmc show, save and diff as an administrator runs them: the real program on a fresh system root, its
// library, driver and simulated machine. Standard input is never a terminal here, so no prompt and no
// progress line appear.

#include "zmrmc_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST_F(ZmrmcCommand, ShowListsEverySettingWithItsValueKindAndChoices) {
    Outcome all = Zmrmc({"show"});
    ASSERT_EQ(all.code, 0) << all.err;
    EXPECT_EQ(all.err, "");
    EXPECT_EQ(all.out.rfind("SETTING  ", 0), 0u) << all.out;
    for (const char* row :
         {"Serial Port A               enum         Device available", "POST Delay (in seconds)     int          0 ",
          "SATA Port\\SATA 1            ext_enum     Disable", "Setup Password              password     (not shown)"})
        EXPECT_NE(all.out.find(row), std::string::npos) << row << "\n" << all.out;
    EXPECT_NE(all.out.find("Device hidden | Device available"), std::string::npos);
    EXPECT_EQ(all.out.find("English"), std::string::npos);  // string tables are not settings

    Outcome some = Zmrmc({"show", "sata port", "POST Delay (in seconds)", "--json"});
    ASSERT_EQ(some.code, 0) << some.err;
    json shown = json::parse(some.out);
    ASSERT_EQ(shown.size(), 3u);  // firmware order
    EXPECT_EQ(shown[0]["name"], "POST Delay (in seconds)");
    EXPECT_EQ(shown[0]["type"], "int");
    EXPECT_EQ(shown[0]["max"], 60);
    EXPECT_EQ(shown[0]["path"], json::array({"Advanced", "Boot Options"}));
    EXPECT_EQ(shown[1]["sub_names"], json::array({"SATA 0"}));
    EXPECT_EQ(shown[1]["value"], "Enable");
    EXPECT_EQ(shown[1]["choices"], json::array({"Disable", "Enable"}));
    EXPECT_EQ(shown[2]["value"], "Disable");

    Outcome unknown = Zmrmc({"show", "Serial Port A", "Turbo Mode"});
    EXPECT_EQ(unknown.code, 1);
    EXPECT_EQ(unknown.err, "zmrmc: no setting named 'Turbo Mode' on this machine\n");
    EXPECT_EQ(unknown.out, "");
}

TEST_F(ZmrmcCommand, SaveWritesTheTextFileOrTheXmlDocument) {
    Outcome text = Zmrmc({"save", Path("saved.txt")});
    ASSERT_EQ(text.code, 0) << text.err;
    EXPECT_EQ(text.out, "saved 18 settings to " + Path("saved.txt") + "\n");
    std::string saved = Contents(root_ / "saved.txt");
    EXPECT_EQ(saved.rfind("English\r\nROM Revision\r\n\t786D1 v01.08\r\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("SATA Port\\SATA 1\r\n\t*Disable\r\n\tEnable\r\n"), std::string::npos);

    Outcome xml = Zmrmc({"save", "C:\\settings.xml", "--xml"});
    ASSERT_EQ(xml.code, 0) << xml.err;
    pid_t lint = StartChild({"/usr/bin/xmllint", "--noout", (root_ / "drive_c" / "settings.xml").string()},
                            root_ / "lint.out", root_ / "lint.err");
    EXPECT_EQ(WaitChild(lint, std::chrono::seconds(30)), 0) << Contents(root_ / "lint.err");

    fs::create_directories(root_ / "folder");
    Outcome folder = Zmrmc({"save", Path("folder")});
    EXPECT_EQ(folder.code, 1);
    EXPECT_EQ(folder.err, "zmrmc: cannot save to " + Path("folder") + ": it is a folder\n");
    Outcome nowhere = Zmrmc({"save", Path("no/such/folder.txt")});
    EXPECT_EQ(nowhere.code, 1);
    EXPECT_EQ(nowhere.err, "zmrmc: cannot save to " + Path("no/such/folder.txt") + ": its folder does not exist\n");
}

// diff lists exactly the settings the file would change, changes nothing, and says what it would skip.
TEST_F(ZmrmcCommand, DiffListsExactlyWhatWouldChange) {
    ASSERT_EQ(Zmrmc({"save", Path("saved.txt")}).code, 0);
    std::string saved = Contents(root_ / "saved.txt");
    Outcome same = Zmrmc({"diff", Path("saved.txt")});
    EXPECT_EQ(same.code, 0) << same.err;
    EXPECT_EQ(same.out, "applying " + Path("saved.txt") + " would change no setting\n");
    EXPECT_EQ(same.err, "");  // the read-only settings carry their own values

    std::string edited = Replaced(saved, "\t*Off\r\n\tOn\r\n", "\tOff\r\n\t*On\r\n");
    edited = Replaced(edited, "QV-ASSET-01", "  QV-ASSET-01  ");  // blanks around a text change nothing
    edited = Replaced(edited, "\t0\r\n\t60\r\n\t0\r\n", "\t0\r\n\t60\r\n\t15\r\n");
    edited = Replaced(edited, "\tIDE CD-ROM Drive\r\n\tDiskette Drive (A:)\r\n\tHard Drive (C:)\r\n",
                      "\tHard Drive (C:)\r\n\tIDE CD-ROM Drive\r\n\tDiskette Drive (A:)\r\n");
    edited = Replaced(edited, "SATA Port\\SATA 1\r\n\t*Disable\r\n\tEnable",
                      "SATA Port\\SATA 1\r\n\tDisable\r\n\t*Enable");
    edited = Replaced(edited, "\t06:30", "\t07:45");
    Write("edited.txt", edited);
    Outcome diff = Zmrmc({"diff", Path("edited.txt"), "--json"});
    EXPECT_EQ(diff.code, 3) << diff.err;
    json result = json::parse(diff.out);
    EXPECT_EQ(result["skipped"], json::array());
    EXPECT_EQ(result["changes"], json::parse(R"json([
                {"setting": "Boot Order", "old": "IDE CD-ROM Drive, Diskette Drive (A:), Hard Drive (C:), Network Controller",
                 "new": "Hard Drive (C:), IDE CD-ROM Drive, Diskette Drive (A:), Network Controller"},
                {"setting": "Num Lock State at Power-On", "old": "Off", "new": "On"},
                {"setting": "POST Delay (in seconds)", "old": "0", "new": "15"},
                {"setting": "Power-On Time", "old": "06:30", "new": "07:45"},
                {"setting": "SATA Port\\SATA 1", "old": "Disable", "new": "Enable"}])json"));
    Outcome table = Zmrmc({"diff", Path("edited.txt")});
    EXPECT_EQ(table.code, 3);
    EXPECT_NE(table.out.find("SETTING                     OLD VALUE"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("\nNum Lock State at Power-On  Off    "), std::string::npos) << table.out;

    // Nothing reached the firmware.
    ASSERT_EQ(Zmrmc({"save", Path("again.txt")}).code, 0);
    EXPECT_EQ(Contents(root_ / "again.txt"), saved);
}

TEST_F(ZmrmcCommand, DiffSaysWhatItWouldSkip) {
    Write("notes.txt",
          "English\r\n"
          "\t*stray\r\n\tstray too\r\n"
          "Turbo Mode\r\n\t*On\r\n"
          "SATA Port\\SATA 9\r\n\t*Enable\r\n"
          "ROM Revision\r\n\tX.1\r\n"
          "Serial Port A\r\n\t*Maybe\r\n\t*Device hidden\r\n\t*Device available\r\n"
          "MultiBoot\r\n\tDisable\r\n\tEnable\r\n"
          "POST Delay (in seconds)\r\n\t0\r\n\tsixty\r\n\t300\r\n\t1\r\n"
          "Boot Order\r\n\tFloppy\r\n\tHard Drive (C:)\r\n\tHard Drive (C:)\r\n"
          "Legacy Devices\r\n\t00\r\n"
          "Asset Tracking Number\r\n\t" +
              std::string(20, 'x') + "\r\n");
    Outcome diff = Zmrmc({"diff", Path("notes.txt")});
    EXPECT_EQ(diff.code, 4);
    const std::string f = "zmrmc: " + Path("notes.txt") + ":";
    EXPECT_EQ(diff.err, f + "2: value lines before any setting, skipped\n" + f +
                            "4: Turbo Mode: no such setting on this machine, skipped\n" + f +
                            "6: SATA Port\\SATA 9: no such setting on this machine, skipped\n" + f +
                            "8: ROM Revision: read-only, its value stays as it is\n" + f +
                            "11: Serial Port A: it has no value 'Maybe', skipped\n" + f +
                            "13: Serial Port A: a second selected value 'Device available' is skipped\n" + f +
                            "14: MultiBoot: no value selected (no \"*\" line), left as it is\n" + f +
                            "19: POST Delay (in seconds): 'sixty' is not a number, the upper bound is left as it is\n" +
                            f + "20: POST Delay (in seconds): 300 is outside 0..60, 60 is taken\n" + f +
                            "21: POST Delay (in seconds): extra line '1' skipped\n" + f +
                            "23: Boot Order: it has no element 'Floppy', skipped\n" + f +
                            "25: Boot Order: element 'Hard Drive (C:)' named twice, the second is skipped\n" + f +
                            "26: Legacy Devices: read-only, its value stays as it is\n" + f +
                            "28: Asset Tracking Number: a text of 20 characters, the setting holds 16\n");
    EXPECT_NE(diff.out.find("Serial Port A"), std::string::npos) << diff.out;  // "Device hidden" was taken
    EXPECT_NE(diff.out.find("60"), std::string::npos);
}

TEST_F(ZmrmcCommand, BadFilesAreRefusedWithTheReason) {
    ASSERT_EQ(Zmrmc({"save", Path("saved.txt")}).code, 0);
    std::string saved = Contents(root_ / "saved.txt");
    fs::create_directories(root_ / "folder.txt");
    std::string junk;
    for (int i = 0; i < 4096; ++i) junk += static_cast<char>((i * 7919) % 256);
    Write("junk.bin", junk);
    Write("german.txt", "Deutsch\r\nSerial Port A\r\n\t*Device hidden\r\n");
    Write("empty.txt", "");
    Write("long.txt", "English\r\n" + std::string(3 << 20, 'A') + "\r\n\t*On\r\n");
    struct Case {
        const char* file;
        int code;
        std::string err;
    };
    const std::vector<Case> cases = {
        {"missing.txt", 1, ": no such file\n"},
        {"folder.txt", 1, ": a folder, not a settings file\n"},
        {"junk.bin", 1, ": not a settings file the library reads: its first line must be \"English\""},
        {"german.txt", 1,
         ": not a settings file the library reads: its first line must be \"English\" (it is 'Deutsch')\n"},
        {"empty.txt", 1, ": empty, not a settings file\n"},
        {"long.txt", 4, ": no such setting on this machine, skipped\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Outcome run = Zmrmc({"diff", Path(c.file)});
        EXPECT_EQ(run.code, c.code);
        EXPECT_NE(run.err.find(Path(c.file) + (c.code == 4 ? ":2: " + std::string(3 << 20, 'A') : "") + c.err),
                  std::string::npos)
            << run.err.substr(0, 300);
    }
    if (geteuid() != 0) {
        Write("locked.txt", saved);
        chmod((root_ / "locked.txt").c_str(), 0);
        Outcome run = Zmrmc({"diff", Path("locked.txt")});
        EXPECT_EQ(run.code, 1);
        EXPECT_NE(run.err.find("cannot be read: Permission denied"), std::string::npos) << run.err;
    }
    ASSERT_EQ(Zmrmc({"save", Path("again.txt")}).code, 0);
    EXPECT_EQ(Contents(root_ / "again.txt"), saved);
}

// A machine with a setup password: the password comes from a file or standard input, never the command line;
// without one the settings are read as the locked firmware shows them, with a note.
TEST_F(ZmrmcCommand, SetupPasswordFromFileOrStandardInput) {
    std::string profile = Contents(SourceTree() + "/platform/machine/profiles/desktop.json");
    Write("locked.json", Replaced(profile, R"("setup": "")", R"("setup": "1E30")"));
    machine_ = Path("locked.json");
    Write("password.txt", "ab\n");
    Write("tagged.txt", "<kbd/>1E30\r\n");
    Write("bad.txt", "a/b\n");

    Outcome file = Zmrmc({"--password-file", Path("password.txt"), "show", "MultiBoot"});
    EXPECT_EQ(file.code, 0) << file.err;
    EXPECT_EQ(file.err, "");
    EXPECT_EQ(Zmrmc({"save", Path("saved.txt"), "--password-file", Path("tagged.txt")}).code, 0);
    Outcome piped = Zmrmc({"--password-stdin", "diff", Path("saved.txt")}, "ab\n");
    EXPECT_EQ(piped.code, 0) << piped.err;

    Outcome none = Zmrmc({"show", "MultiBoot"});
    EXPECT_EQ(none.code, 0);
    EXPECT_NE(none.err.find("zmrmc: a setup password is set; reading without it"), std::string::npos) << none.err;
    Outcome bad = Zmrmc({"show", "--password-file", Path("bad.txt")});
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("no key types the password's character '/' (position 2)"), std::string::npos) << bad.err;
    Outcome missing = Zmrmc({"show", "--password-file", Path("nothing.txt")});
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("cannot read the password file"), std::string::npos) << missing.err;
}

TEST_F(ZmrmcCommand, UsageErrorsAndHelp) {
    Outcome help = Zmrmc({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Exit codes:\n  0  success"), std::string::npos) << help.out;
    for (const char* code : {"  4  diff, apply:", "  5  apply, set, defaults:", "  6  password:"})
        EXPECT_NE(help.out.find(code), std::string::npos) << code;
    for (const char* command : {"show", "save", "diff", "apply", "set", "defaults", "password"})
        EXPECT_NE(help.out.find("\n  " + std::string(command) + " "), std::string::npos) << command << help.out;
    EXPECT_EQ(Zmrmc({}).code, 2);
    EXPECT_EQ(Zmrmc({"frobnicate"}).code, 2);
    EXPECT_EQ(Zmrmc({"save"}).code, 2);
    EXPECT_EQ(Zmrmc({"--password", "ab", "show"}).code, 2);  // no password on the command line
    EXPECT_EQ(Zmrmc({"--password-file", "a", "--password-stdin", "show"}).code, 2);
    EXPECT_EQ(Zmrmc({"--password-fd", "3", "--password-stdin", "show"}).code, 2);
    EXPECT_EQ(Zmrmc({"--password-fd", "-1", "show"}).code, 2);
    EXPECT_EQ(Zmrmc({"password", "setup"}).code, 2);
    EXPECT_EQ(Zmrmc({"password", "bios", "set"}).code, 2);
}

TEST_F(ZmrmcCommand, MachineWithoutSettings) {
    machine_ = "unsupported";
    Outcome show = Zmrmc({"show"});
    EXPECT_EQ(show.code, 1);
    EXPECT_EQ(show.err, "zmrmc: this machine's firmware has no settings the BIOS access library can read\n");
    EXPECT_EQ(Zmrmc({"save", Path("nothing.txt")}).code, 1);
    EXPECT_FALSE(fs::exists(root_ / "nothing.txt"));
}

}  // namespace
