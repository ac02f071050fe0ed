// #pragma include: nested relative includes found beside the including file, errors that name the file and
// line they are in, and a compile that stores all of its files or nothing.
#include "qv_mof_compiler.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "run_program.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace qv::wbem {
namespace {

namespace fs = std::filesystem;

class MofIncludeTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        repo_ = Repository::Open(root_);
        ASSERT_TRUE(repo_);
        files_ = root_ / "files";
    }
    void Write(const std::string& relative, const std::string& text) {
        fs::path file = files_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    MofResult Compile(const std::string& relative) {
        MofOptions options;
        options.defaultNamespace = L"root\\cimv2";
        return CompileMofFile(files_ / relative, *repo_, options);
    }
    bool HasClass(const wchar_t* ns, const wchar_t* name) {
        CimObject c;
        return repo_->GetClass(ns, name, &c) == S_OK;
    }
    std::unique_ptr<Repository> repo_;
    fs::path files_;
};

// A schema split over three files: the main file includes a part with a Windows-style relative name, the part
// includes a file of a folder below its own with a forward-slash name. Classes and instances of every file are
// stored in text order, in the namespace the main file made.
void WriteThreeFileSchema(const std::function<void(const std::string&, const std::string&)>& write) {
    write("schema/main.mof",
          "#pragma namespace(\"\\\\\\\\.\\\\root\")\n"
          "instance of __Namespace { Name = \"Split\"; };\n"
          "#pragma namespace(\"root\\\\Split\")\n"
          "[abstract] class Split_Base { [key] string Name; };\n"
          "#pragma include (\"parts\\\\settings.mof\")\n"
          "instance of Split_Setting { Name = \"after\"; Level = 2; };\n");
    write("schema/parts/settings.mof",
          "class Split_Setting : Split_Base { uint8 Level; };\n"
          "#pragma include(\"values/first.mof\")\n"
          "instance of Split_Setting as $second { Name = \"second\"; Level = 0x10; };\n");
    write("schema/parts/values/first.mof",
          "instance of Split_Setting { Name = \"first\"; Level = 1; };\n"
          "class Split_Link { [key] Split_Setting ref To; };\n");
}

TEST_F(MofIncludeTest, ASchemaOfThreeFilesCompilesThroughMofcompFromAnotherFolder) {
    WriteThreeFileSchema([&](const std::string& f, const std::string& t) { Write(f, t); });
    // Decoys where a lookup in the current folder would find them.
    Write("elsewhere/parts/settings.mof", "this is not MOF\n");
    Write("elsewhere/values/first.mof", "this is not MOF either\n");
    auto mofcomp = [&] {
        fs::path previous = fs::current_path();
        fs::current_path(files_ / "elsewhere");
        ProgramRun run = RunProgram(BuildTree() + "/bin/mofcomp", {"../schema/main.mof"}, root_);
        fs::current_path(previous);
        return run;
    };

    // First with the innermost file including one that is not there: the error names that file and the
    // pragma's line, and nothing of the three files is stored (not even the namespace the first one made).
    Write("schema/parts/values/first.mof", "class Split_Early { };\n\n#pragma include(\"absent.mof\")\n");
    ProgramRun run = mofcomp();
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_NE(
        run.error_output.find("../schema/parts/values/first.mof(3): error 0x80041002: cannot include 'absent.mof'"),
        std::string::npos)
        << run.error_output;
    EXPECT_FALSE(repo_->NamespaceExists(L"root\\Split"));

    WriteThreeFileSchema([&](const std::string& f, const std::string& t) { Write(f, t); });
    run = mofcomp();
    ASSERT_EQ(run.exit_code, 0) << run.error_output;
    repo_ = Repository::Open(root_);
    for (const wchar_t* name : {L"Split_Base", L"Split_Setting", L"Split_Link"})
        EXPECT_TRUE(HasClass(L"root\\Split", name)) << qv::win::ToUtf8(name);
    std::vector<CimObject> settings;
    ASSERT_EQ(repo_->EnumInstances(L"root\\Split", L"Split_Setting", 0, &settings), S_OK);
    std::vector<std::wstring> names;
    for (const CimObject& s : settings)
        names.push_back(std::get<std::wstring>(FindProperty(s, L"Name")->value.elements[0]));
    EXPECT_EQ(names, (std::vector<std::wstring>{L"first", L"second", L"after"}));
}

// An error in any file names that file and its line; for a failed include, the including file and the line
// of its pragma. Nothing of the compile is stored, also not what the other files held.
TEST_F(MofIncludeTest, AnErrorInAnyFileNamesItAndStoresNothing) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // the first is compiled
        std::string errorFile;                                   // relative to files_
        int line;
        HRESULT code;
        const char* reason;
    } cases[] = {
        {"missing file",
         {{"a.mof", "class Kept_A { };\n\n#pragma include(\"sub/b.mof\")\n"},
          {"sub/b.mof", "class Kept_B { };\n#pragma include(\"nowhere.mof\")\n"}},
         "sub/b.mof",
         2,
         WBEM_E_NOT_FOUND,
         "cannot include 'nowhere.mof'"},
        {"cycle",
         {{"a.mof", "class Kept_A { };\n#pragma include(\"sub/b.mof\")\n"},
          {"sub/b.mof", "class Kept_B { };\n\n#pragma include(\"../a.mof\")\n"}},
         "sub/b.mof",
         3,
         WBEM_E_INVALID_OPERATION,
         "include cycle: a.mof -> b.mof -> a.mof"},
        {"itself",
         {{"a.mof", "class Kept_A { };\n#pragma include(\"./a.mof\")\n"}},
         "a.mof",
         2,
         WBEM_E_INVALID_OPERATION,
         "include cycle"},
        {"a folder",
         {{"a.mof", "#pragma include(\"sub\")\n"}, {"sub/b.mof", ""}},
         "a.mof",
         1,
         WBEM_E_NOT_FOUND,
         "folder"},
        {"no name",
         {{"a.mof", "class Kept_A { };\n#pragma include()\n"}},
         "a.mof",
         2,
         WBEM_E_INVALID_SYNTAX,
         "needs one file name"},
        {"two names",
         {{"a.mof", "#pragma include(\"x.mof\", \"y.mof\")\n"}},
         "a.mof",
         1,
         WBEM_E_INVALID_SYNTAX,
         "needs one file name"},
        {"syntax error inside",
         {{"a.mof", "class Kept_A { };\n#pragma include(\"b.mof\")\n"}, {"b.mof", "class Kept_B {\n uint8 X\n};\n"}},
         "b.mof",
         3,
         WBEM_E_INVALID_SYNTAX,
         "expected ';'"},
        {"unknown superclass inside",
         {{"a.mof", "#pragma include(\"b.mof\")\nclass Kept_A { };\n"},
          {"b.mof", "class Kept_B { };\n\nclass Kept_C : Missing { };\n"}},
         "b.mof",
         3,
         WBEM_E_INVALID_SUPERCLASS,
         "unknown superclass"},
        {"refused when stored",
         {{"a.mof", "class Kept_A { [key] string K; };\n#pragma include(\"b.mof\")\n"},
          {"b.mof",
           "#pragma instanceflags(\"createonly\")\ninstance of Kept_A { K = \"x\"; };\n"
           "instance of Kept_A { K = \"x\"; };\n"}},
         "b.mof",
         3,
         WBEM_E_ALREADY_EXISTS,
         "already exists"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(files_);
        for (const auto& [name, text] : c.files) Write(name, text);
        MofResult r = Compile(c.files[0].first);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(fs::path(r.file).lexically_normal(), (files_ / c.errorFile).lexically_normal());
        EXPECT_EQ(r.line, c.line) << r.reason;
        EXPECT_EQ(static_cast<unsigned>(r.code), static_cast<unsigned>(c.code)) << r.reason;
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << r.reason;
        for (const wchar_t* name : {L"Kept_A", L"Kept_B", L"Kept_C"})
            EXPECT_FALSE(HasClass(L"root\\cimv2", name)) << qv::win::ToUtf8(name);
    }
}

// The same file may be included twice when no cycle forms, an absolute Windows name is found in the system
// root's drive, and includes nest as deep as the limit allows.
TEST_F(MofIncludeTest, RepeatedAbsoluteAndDeepIncludesAreFine) {
    fs::create_directories(root_ / "drive_c" / "Schema");
    std::ofstream(root_ / "drive_c" / "Schema" / "abs.mof") << "class FromDriveC { };\n";
    Write("a.mof",
          "#pragma include(\"common.mof\")\n#pragma include(\"common.mof\")\n"
          "#pragma include(\"C:\\\\Schema\\\\abs.mof\")\n#pragma include(\"d1.mof\")\n");
    Write("common.mof", "class Shared { };\n");
    for (int depth = 1; depth <= 31; ++depth)
        Write("d" + std::to_string(depth) + ".mof", "#pragma include(\"d" + std::to_string(depth + 1) + ".mof\")\n");
    Write("d32.mof", "class Deepest { };\n");
    MofResult r = Compile("a.mof");
    ASSERT_TRUE(r.ok) << FormatMofError(r);
    EXPECT_TRUE(HasClass(L"root\\cimv2", L"FromDriveC"));
    EXPECT_TRUE(HasClass(L"root\\cimv2", L"Deepest"));

    Write("d32.mof", "#pragma include(\"d33.mof\")\n");
    Write("d33.mof", "class TooDeep { };\n");
    r = Compile("a.mof");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.reason.find("nested more than 32"), std::string::npos) << r.reason;
    EXPECT_EQ(fs::path(r.file), files_ / "d32.mof");
}

// A file may be included again and again, but one compile reads at most 10 000 included files and 64 MB in
// all: nested repeats of a few small files (here 2^16 includes of the last one) are refused, not expanded.
TEST_F(MofIncludeTest, RepeatedIncludesAreBoundedInCountAndSize) {
    Write("a.mof", "class Kept_A { };\n#pragma include(\"r0.mof\")\n");
    for (int level = 0; level < 16; ++level) {
        std::string next = "#pragma include(\"r" + std::to_string(level + 1) + ".mof\")\n";
        Write("r" + std::to_string(level) + ".mof", next + next);
    }
    Write("r16.mof", "class Kept_B { };\n");
    MofResult r = Compile("a.mof");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(static_cast<unsigned>(r.code), static_cast<unsigned>(WBEM_E_INVALID_OPERATION));
    EXPECT_NE(r.reason.find("more than 10000 includes"), std::string::npos) << r.reason;

    Write("big.mof", "// " + std::string(22u << 20, 'x') + "\n");
    Write("a.mof",
          "class Kept_A { };\n#pragma include(\"big.mof\")\n#pragma include(\"big.mof\")\n"
          "#pragma include(\"big.mof\")\n");
    r = Compile("a.mof");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(fs::path(r.file), files_ / "a.mof");
    EXPECT_EQ(r.line, 4);
    EXPECT_NE(r.reason.find("more than 64 MB"), std::string::npos) << r.reason;
    EXPECT_FALSE(HasClass(L"root\\cimv2", L"Kept_A"));
    EXPECT_FALSE(HasClass(L"root\\cimv2", L"Kept_B"));
}

}  // namespace
}  // namespace qv::wbem
