// A compile is checked over a staged view of the repository and stored in one transaction afterwards: what
// the view shows (deleted classes, new namespaces), and that a change by another writer in between is seen.
#include "mof_staging.h"
#include "qv_mof_compiler.h"
#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "qv_wait.h"
#include "run_program.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

namespace qv::wbem {
namespace {

namespace fs = std::filesystem;

class StagedCompileTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        repo_ = Repository::Open(root_);
        ASSERT_TRUE(repo_);
    }
    MofResult Compile(Repository& repo, const std::wstring& text) {
        MofOptions options;
        options.defaultNamespace = L"root\\cimv2";
        return CompileMofText(text, "staged.mof", repo, options);
    }
    bool HasClass(const wchar_t* name) {
        CimObject c;
        return repo_->GetClass(L"root\\cimv2", name, &c) == S_OK;
    }
    std::unique_ptr<Repository> repo_;
};

// A deleted class takes its subclasses with it for the rest of the compile; a class of the same name made
// after the deletion is the new one.
TEST_F(StagedCompileTest, ADeletedClassIsGoneWithItsSubclassesForTheRestOfTheCompile) {
    ASSERT_TRUE(Compile(*repo_, L"class Top { }; class Mid : Top { uint8 Old; }; class Leaf : Mid { };").ok);
    MofResult r = Compile(*repo_, L"#pragma deleteclass(\"Mid\")\nclass Again : Leaf { };\n");
    EXPECT_EQ(r.code, WBEM_E_INVALID_SUPERCLASS);
    EXPECT_EQ(r.line, 2);
    EXPECT_TRUE(HasClass(L"Leaf"));

    r = Compile(*repo_,
                L"#pragma deleteclass(\"mid\")\nclass Mid : Top { uint8 New; };\nclass Leaf2 : Mid { };\n"
                L"#pragma deleteclass(\"Gone\", NOFAIL)\n");
    ASSERT_TRUE(r.ok) << FormatMofError(r);
    EXPECT_FALSE(HasClass(L"Leaf"));
    CimObject leaf2;
    ASSERT_EQ(repo_->GetClass(L"root\\cimv2", L"Leaf2", &leaf2), S_OK);
    EXPECT_TRUE(FindProperty(leaf2, L"New"));
    EXPECT_FALSE(FindProperty(leaf2, L"Old"));

    // The same for classes made earlier in the same compile.
    r = Compile(*repo_,
                L"class S1 : Top { };\nclass S2 : S1 { };\nclass Kept : Top { };\n#pragma deleteclass(\"S1\")\n"
                L"class S3 : Kept { };\nclass S4 : S2 { };\n");
    EXPECT_EQ(r.code, WBEM_E_INVALID_SUPERCLASS);
    EXPECT_EQ(r.line, 6);

    r = Compile(*repo_, L"class Kept { };\n#pragma deleteclass(\"__NAMESPACE\")\n");
    EXPECT_EQ(r.code, WBEM_E_ACCESS_DENIED);
    r = Compile(*repo_, L"class Kept { };\n#pragma deleteclass(\"Gone\")\n");
    EXPECT_EQ(r.code, WBEM_E_NOT_FOUND);
    EXPECT_FALSE(HasClass(L"Kept"));
}

// The view keeps every answer it read; under the write lock it tells whether another writer changed one
// since, so that the compile is checked again before anything is stored.
TEST_F(StagedCompileTest, AChangeByAnotherWriterBetweenCheckAndStoreIsNoticed) {
    ASSERT_TRUE(Compile(*repo_, L"class Base { uint8 A; };").ok);
    mof::Staging staging(repo_.get(), nullptr);
    HRESULT hr = S_OK;
    ASSERT_TRUE(staging.GetClass(L"root\\cimv2", L"Base", &hr));
    EXPECT_FALSE(staging.GetClass(L"root\\cimv2", L"Later", &hr));
    EXPECT_FALSE(staging.NamespaceExists(L"root\\cimv2\\Later"));
    {
        Repository::Transaction lock(*repo_);
        EXPECT_TRUE(staging.StillCurrent());
    }
    auto other = Repository::Open(root_);  // another connection, as another process has
    ASSERT_TRUE(Compile(*other, L"class Base { uint8 A; uint8 B; };").ok);
    {
        Repository::Transaction lock(*repo_);
        EXPECT_FALSE(staging.StillCurrent());
    }

    // A class or a namespace that was missing when read and exists now.
    mof::Staging classLater(repo_.get(), nullptr);
    mof::Staging namespaceLater(repo_.get(), nullptr);
    EXPECT_FALSE(classLater.GetClass(L"root\\cimv2", L"Later", &hr));
    EXPECT_FALSE(namespaceLater.NamespaceExists(L"root\\cimv2\\Later"));
    ASSERT_TRUE(Compile(*other, L"class Later { };\ninstance of __Namespace { Name = \"Later\"; };").ok);
    Repository::Transaction lock(*repo_);
    EXPECT_FALSE(classLater.StillCurrent());
    EXPECT_FALSE(namespaceLater.StillCurrent());
}

// While one mofcomp is still reading and parsing a large compile (its last include is a pipe the test feeds
// only at the end), another process reads the repository and a second mofcomp stores into it; then the
// first compile finishes and stores everything.
TEST_F(StagedCompileTest, TheRepositoryIsReadableAndWritableWhileALargeCompileIsParsing) {
    fs::path schema = root_ / "schema";
    fs::create_directories(schema);
    {
        std::ofstream wide(schema / "wide.mof");
        wide << "#pragma namespace(\"root/cimv2\")\nclass Wide {\n  [key] string Id;\n";
        for (int i = 0; i < 5000; ++i)
            wide << "  [read, WmiDataId(" << i + 1 << ")] uint32 P" << i << " = " << i << ";\n";
        wide << "};\n#pragma include(\"rest.mof\")\n";
    }
    std::ofstream(schema / "beside.mof") << "#pragma namespace(\"root/cimv2\")\nclass Beside { uint8 X = 1; };\n";
    fs::path rest = schema / "rest.mof";
    ASSERT_EQ(mkfifo(rest.c_str(), 0600), 0);
    std::string mofcomp = BuildTree() + "/bin/mofcomp";
    pid_t wide = StartChild({mofcomp, (schema / "wide.mof").string()}, root_ / "wide.out", root_ / "wide.err",
                            {"QV_SYSTEM_ROOT=" + root_.string()});
    ASSERT_GT(wide, 0);

    // Opening the pipe for writing succeeds once mofcomp has opened it to read: it has parsed wide.mof and
    // waits for the rest of its input.
    int pipe = -1;
    bool ended = false;
    ASSERT_TRUE(WaitUntil(
        [&] {
            pipe = open(rest.c_str(), O_WRONLY | O_NONBLOCK);
            int status = 0;
            ended = pipe < 0 && (errno != ENXIO || waitpid(wide, &status, WNOHANG) != 0);
            return pipe >= 0 || ended;
        },
        std::chrono::seconds(120)));
    ASSERT_FALSE(ended) << "mofcomp ended before it reached the include, or the pipe cannot be opened";

    auto reader = Repository::Open(root_);
    ASSERT_TRUE(reader);
    std::vector<CimObject> classes;
    EXPECT_EQ(reader->EnumClasses(L"root\\cimv2", L"", 0, &classes), S_OK);
    EXPECT_FALSE(classes.empty());
    ProgramRun beside = RunProgram(mofcomp, {(schema / "beside.mof").string()}, root_);
    EXPECT_EQ(beside.exit_code, 0) << beside.error_output;
    CimObject found;
    EXPECT_EQ(reader->GetClass(L"root\\cimv2", L"Beside", &found), S_OK);
    EXPECT_EQ(reader->GetClass(L"root\\cimv2", L"Wide", &found), WBEM_E_NOT_FOUND);

    ASSERT_EQ(fcntl(pipe, F_SETFL, 0), 0);
    const std::string last = "instance of Wide { Id = \"only\"; P4999 = 1; };\n";
    EXPECT_EQ(write(pipe, last.data(), last.size()), static_cast<ssize_t>(last.size()));
    close(pipe);
    EXPECT_EQ(WaitChild(wide, std::chrono::seconds(120)), 0);
    ASSERT_EQ(reader->GetClass(L"root\\cimv2", L"Wide", &found), S_OK);
    EXPECT_EQ(found.properties.size(), 5001u);
    EXPECT_EQ(reader->GetInstance(L"root\\cimv2", L"Wide.Id=\"only\"", &found), S_OK);
}

}  // namespace
}  // namespace qv::wbem
