// The repository: default namespaces, namespace creation and removal, class and instance deletion,
// enumeration, registrations, and several processes compiling at once.
#include "wbem_test_support.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace qv::wbem {
namespace {

using namespace qv::wbem::testing;

class RepositoryTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        repo_ = Repository::Open(root_);
        ASSERT_TRUE(repo_);
    }
    void CompileSchema() {
        for (const char* file : {"common.mof", "provider.mof"}) {
            MofResult r = Compile(*repo_, file);
            ASSERT_TRUE(r.ok) << FormatMofError(r);
        }
    }
    static std::vector<std::wstring> Names(const std::vector<CimObject>& objects) {
        std::vector<std::wstring> names;
        for (const CimObject& o : objects) names.push_back(o.IsClass() ? o.className : RelativePath(o));
        return names;
    }
    static constexpr const wchar_t* kNs = L"root\\QVTest\\Settings";
    std::unique_ptr<Repository> repo_;
};

TEST_F(RepositoryTest, FreshRepositoryHasTheStandardNamespacesAndSystemClasses) {
    EXPECT_EQ(repo_->Namespaces(),
              (std::vector<std::wstring>{L"root", L"root\\WMI", L"root\\cimv2", L"root\\default"}));
    EXPECT_TRUE(std::filesystem::exists(root_ / "drive_c/WINDOWS/system32/wbem/Repository/repository.db"));
    for (const wchar_t* ns : {L"root", L"ROOT\\CIMV2", L"\\\\.\\root\\default"}) {
        for (const wchar_t* cls :
             {L"__NAMESPACE", L"__Win32Provider", L"__InstanceProviderRegistration", L"__MethodProviderRegistration",
              L"__EventProviderRegistration", L"MSFT_DecoupledProvider", L"__ExtrinsicEvent"}) {
            CimObject c;
            EXPECT_EQ(repo_->GetClass(ns, cls, &c), S_OK) << qv::win::ToUtf8(ns) << " " << qv::win::ToUtf8(cls);
        }
    }
    CimObject decoupled;
    ASSERT_EQ(repo_->GetClass(L"root", L"MSFT_DecoupledProvider", &decoupled), S_OK);
    EXPECT_EQ(FindProperty(decoupled, L"CLSID")->value, CimValue::String(L"{54D8502C-527D-43F7-A506-A9DA075E229C}"));
    std::vector<CimObject> children;
    ASSERT_EQ(repo_->EnumInstances(L"root", L"__NAMESPACE", 0, &children), S_OK);
    EXPECT_EQ(Names(children),
              (std::vector<std::wstring>{L"__NAMESPACE.Name=\"cimv2\"", L"__NAMESPACE.Name=\"default\"",
                                         L"__NAMESPACE.Name=\"WMI\""}));
    CimObject c;
    EXPECT_EQ(repo_->GetClass(L"root\\nowhere", L"__NAMESPACE", &c), WBEM_E_INVALID_NAMESPACE);
    EXPECT_EQ(repo_->DeleteClass(L"root", L"__Win32Provider"), WBEM_E_ACCESS_DENIED);
}

TEST_F(RepositoryTest, EnumerationIsDeepOrShallow) {
    CompileSchema();
    std::vector<CimObject> found;
    ASSERT_EQ(repo_->EnumClasses(kNs, L"QVT_Setting", WBEM_FLAG_SHALLOW, &found), S_OK);
    EXPECT_EQ(Names(found), (std::vector<std::wstring>{L"QVT_Enumeration"}));
    ASSERT_EQ(repo_->EnumClasses(kNs, L"QVT_Setting", 0, &found), S_OK);
    EXPECT_EQ(Names(found), (std::vector<std::wstring>{L"QVT_Enumeration", L"QVTP_Enumeration"}));
    ASSERT_EQ(repo_->EnumInstances(kNs, L"__Provider", WBEM_FLAG_SHALLOW, &found), S_OK);
    EXPECT_TRUE(found.empty());
    ASSERT_EQ(repo_->Providers(kNs, &found), S_OK);
    EXPECT_EQ(Names(found), (std::vector<std::wstring>{L"__Win32Provider.Name=\"QVT_Provider\"",
                                                       L"MSFT_DecoupledProvider.Name=\"QVT_EventProvider\""}));
    ASSERT_EQ(repo_->Registrations(kNs, &found), S_OK);
    ASSERT_EQ(found.size(), 3u);
    const CimObject* events = nullptr;
    for (const CimObject& r : found)
        if (r.className == L"__EventProviderRegistration") events = &r;
    ASSERT_TRUE(events);
    EXPECT_EQ(FindProperty(*events, L"EventQueryList")->value.elements[0],
              CimScalar(std::wstring(L"Select * from QVT_ConfigurationEvent")));
    EXPECT_EQ(repo_->EnumClasses(kNs, L"NoSuchClass", 0, &found), WBEM_E_INVALID_CLASS);
}

// Reads are answered from a cache while nothing changed; a change through this connection or through
// another one (as another process's mofcomp makes it) is seen by the next read.
TEST_F(RepositoryTest, ReadsSeeChangesMadeThroughAnyConnection) {
    CompileSchema();
    auto other = Repository::Open(root_);
    ASSERT_TRUE(other);
    std::vector<CimObject> found;
    CimObject cls;
    ASSERT_EQ(repo_->EnumClasses(kNs, L"QVT_Setting", 0, &found), S_OK);
    ASSERT_EQ(found.size(), 2u);
    ASSERT_EQ(repo_->GetClass(kNs, L"QVT_Later", &cls), WBEM_E_NOT_FOUND);
    ASSERT_EQ(repo_->Registrations(kNs, &found), S_OK);
    ASSERT_EQ(found.size(), 3u);
    ASSERT_EQ(repo_->Providers(kNs, &found), S_OK);
    ASSERT_EQ(found.size(), 2u);

    // Another connection adds a subclass, a provider and its registration,.
    MofResult r = CompileMofText(
        LR"(#pragma namespace("\\\\.\\root\\QVTest\\Settings")
class QVT_Later : QVT_Enumeration { string Extra; };
instance of __Win32Provider { Name = "QVT_Later"; CLSID = "{0C8B6E2A-61D4-4F0E-9B57-3A1D2C4E5F60}"; };
instance of __MethodProviderRegistration { Provider = "__Win32Provider.Name=\"QVT_Later\""; };
)",
        "later.mof", *other);
    ASSERT_TRUE(r.ok) << FormatMofError(r);
    EXPECT_EQ(repo_->GetClass(kNs, L"qvt_later", &cls), S_OK);
    ASSERT_EQ(repo_->EnumClasses(kNs, L"QVT_Setting", 0, &found), S_OK);
    EXPECT_EQ(found.size(), 3u);
    ASSERT_EQ(repo_->Registrations(kNs, &found), S_OK);
    EXPECT_EQ(found.size(), 4u);
    ASSERT_EQ(repo_->Providers(kNs, &found), S_OK);
    EXPECT_EQ(found.size(), 3u);

    // This connection's own changes, and a change made and taken back in a failed scope.
    ASSERT_EQ(repo_->DeleteClass(kNs, L"QVT_Later"), S_OK);
    EXPECT_EQ(repo_->GetClass(kNs, L"QVT_Later", &cls), WBEM_E_NOT_FOUND);
    EXPECT_EQ(other->GetClass(kNs, L"QVT_Later", &cls), WBEM_E_NOT_FOUND);
    ASSERT_EQ(repo_->EnumClasses(kNs, L"QVT_Setting", 0, &found), S_OK);
    EXPECT_EQ(found.size(), 2u);
    {
        Repository::Transaction scope(*repo_);
        ASSERT_EQ(repo_->DeleteClass(kNs, L"QVTP_Enumeration"), S_OK);
        EXPECT_EQ(repo_->GetClass(kNs, L"QVTP_Enumeration", &cls), WBEM_E_NOT_FOUND) << "the scope sees itself";
    }
    EXPECT_EQ(repo_->GetClass(kNs, L"QVTP_Enumeration", &cls), S_OK);
    EXPECT_EQ(other->GetClass(kNs, L"QVTP_Enumeration", &cls), S_OK);
}

TEST_F(RepositoryTest, DeleteClassTakesSubclassesAndTheirInstances) {
    CompileSchema();
    ASSERT_TRUE(CompileMofText(L"#pragma namespace(\"\\\\\\\\.\\\\root\\\\QVTest\\\\Settings\")\n"
                               L"class QVT_SampleChild : QVT_Sample { uint32 Extra; };\n"
                               L"instance of QVT_SampleChild { Id = \"child\"; Extra = 1; };\n",
                               "child.mof", *repo_)
                    .ok);
    std::vector<CimObject> found;
    ASSERT_EQ(repo_->EnumInstances(kNs, L"QVT_Sample", 0, &found), S_OK);
    EXPECT_EQ(found.size(), 3u);
    CimObject child;
    EXPECT_EQ(repo_->GetInstance(kNs, L"QVT_Sample.Id=\"child\"", &child), S_OK);  // found under the subclass
    EXPECT_EQ(child.className, L"QVT_SampleChild");
    ASSERT_EQ(repo_->DeleteClass(kNs, L"qvt_sample"), S_OK);
    CimObject gone;
    EXPECT_EQ(repo_->GetClass(kNs, L"QVT_Sample", &gone), WBEM_E_NOT_FOUND);
    EXPECT_EQ(repo_->GetClass(kNs, L"QVT_SampleChild", &gone), WBEM_E_NOT_FOUND);
    EXPECT_EQ(repo_->GetInstance(kNs, L"QVT_SampleChild.Id=\"child\"", &gone), WBEM_E_INVALID_CLASS);
    // Instances of other classes stay.
    ASSERT_EQ(repo_->Providers(kNs, &found), S_OK);
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(repo_->DeleteClass(kNs, L"QVT_Sample"), WBEM_E_NOT_FOUND);
}

TEST_F(RepositoryTest, DeleteInstanceRemovesOneStaticInstance) {
    CompileSchema();
    EXPECT_EQ(repo_->DeleteInstance(kNs, L"QVT_Sample.Id=\"first\""), S_OK);
    CimObject o;
    EXPECT_EQ(repo_->GetInstance(kNs, L"QVT_Sample.Id=\"first\"", &o), WBEM_E_NOT_FOUND);
    EXPECT_EQ(repo_->GetInstance(kNs, L"QVT_Sample.Id=\"second\"", &o), S_OK);
    EXPECT_EQ(repo_->DeleteInstance(kNs, L"QVT_Sample.Id=\"first\""), WBEM_E_NOT_FOUND);
    EXPECT_EQ(repo_->DeleteInstance(kNs, L"QVT_Sample.Id=\"unterminated"), WBEM_E_INVALID_OBJECT_PATH);
    EXPECT_EQ(repo_->DeleteInstance(kNs, L"__Win32Provider.Name=\"QVT_Provider\""), S_OK);
    // Deleting a namespace's instance removes the namespace with everything below it.
    EXPECT_EQ(repo_->DeleteInstance(L"root", L"__NAMESPACE.Name=\"QVTest\""), S_OK);
    EXPECT_FALSE(repo_->NamespaceExists(L"root\\QVTest"));
    EXPECT_FALSE(repo_->NamespaceExists(kNs));
    EXPECT_EQ(repo_->GetClass(kNs, L"QVT_Sample", &o), WBEM_E_INVALID_NAMESPACE);
}

TEST_F(RepositoryTest, PutRulesFollowWmi) {
    CompileSchema();
    CimObject cls;
    ASSERT_EQ(repo_->GetClass(kNs, L"QVT_Sample", &cls), S_OK);
    EXPECT_EQ(repo_->PutClass(kNs, cls, WBEM_FLAG_CREATE_ONLY), WBEM_E_ALREADY_EXISTS);
    EXPECT_EQ(repo_->PutClass(kNs, cls, WBEM_FLAG_UPDATE_ONLY), S_OK);
    CimObject changed = cls;
    changed.properties.pop_back();
    EXPECT_EQ(repo_->PutClass(kNs, changed, 0), WBEM_E_CLASS_HAS_INSTANCES);
    CimObject orphan = DeriveClass(cls, L"QVT_Orphan");
    orphan.superclass = L"QVT_Gone";
    EXPECT_EQ(repo_->PutClass(kNs, orphan, 0), WBEM_E_INVALID_SUPERCLASS);
    CimObject ownAncestor = DeriveClass(cls, L"QVT_Sample");  // a class may not become its own subclass
    EXPECT_EQ(repo_->PutClass(kNs, ownAncestor, 0), WBEM_E_INVALID_SUPERCLASS);
    CimObject instance = SpawnInstanceOf(cls);
    EXPECT_EQ(repo_->PutInstance(kNs, instance, 0), WBEM_E_ILLEGAL_NULL);
    FindProperty(instance, L"Id")->value = CimValue::String(L"first");
    EXPECT_EQ(repo_->PutInstance(kNs, instance, WBEM_FLAG_CREATE_ONLY), WBEM_E_ALREADY_EXISTS);
    FindProperty(instance, L"U8")->value = CimValue::String(L"wrong");
    EXPECT_EQ(repo_->PutInstance(kNs, instance, 0), WBEM_E_TYPE_MISMATCH);
    CimObject dynamic;
    ASSERT_EQ(repo_->GetClass(kNs, L"QVTP_Enumeration", &dynamic), S_OK);
    CimObject dynamicInstance = SpawnInstanceOf(dynamic);
    FindProperty(dynamicInstance, L"InstanceName")->value = CimValue::String(L"x");
    EXPECT_EQ(repo_->PutInstance(kNs, dynamicInstance, 0), WBEM_E_INVALID_OPERATION);
}

TEST_F(RepositoryTest, AFailedInnerScopeTakesBackOnlyItsOwnChanges) {
    Repository::Transaction outer(*repo_);
    ASSERT_EQ(outer.Begin(), S_OK);
    MofOptions cimv2{L"root\\cimv2"};
    ASSERT_TRUE(CompileMofText(L"class Kept { [key] string K; };", "kept.mof", *repo_, cimv2).ok);
    MofResult bad = CompileMofText(L"class Gone { };\nclass Bad : Missing { };", "bad.mof", *repo_, cimv2);
    ASSERT_FALSE(bad.ok);
    EXPECT_EQ(bad.line, 2);
    ASSERT_EQ(outer.Commit(), S_OK);
    CimObject c;
    EXPECT_EQ(repo_->GetClass(L"root\\cimv2", L"Kept", &c), S_OK);
    EXPECT_EQ(repo_->GetClass(L"root\\cimv2", L"Gone", &c), WBEM_E_NOT_FOUND);
}

TEST_F(RepositoryTest, TwoProcessesCompilingAtOnceBothSucceed) {
    // Two files with many classes each, so that the compilations overlap in time.
    std::filesystem::path a = root_ / "a.mof", b = root_ / "b.mof";
    for (auto [file, tag] : {std::pair{a, "A"}, std::pair{b, "B"}}) {
        std::ofstream out(file);
        out << "#pragma namespace(\"\\\\\\\\.\\\\root\")\ninstance of __Namespace { Name = \"Space" << tag
            << "\"; };\n";
        out << "#pragma namespace(\"\\\\\\\\.\\\\root\\\\Space" << tag << "\")\n";
        for (int i = 0; i < 150; ++i)
            out << "class C" << tag << i << (i ? " : C" + std::string(tag) + std::to_string(i - 1) : "") << " { "
                << (i ? "" : "[key] ") << "string K" << i << "; uint32 V" << i << "[4] = {1, 2, 3, 4}; };\n";
        out << "instance of C" << tag << "149 { K0 = \"x\"; };\n";
    }
    std::string mofcomp = MofcompPath();
    repo_.reset();
    for (int round = 0; round < 2; ++round) {
        pid_t pids[2];
        for (int k = 0; k < 2; ++k) {
            std::string file = (k ? b : a).string();
            char* argv[] = {mofcomp.data(), file.data(), nullptr};
            ASSERT_EQ(posix_spawn(&pids[k], mofcomp.c_str(), nullptr, nullptr, argv, environ), 0);
        }
        for (pid_t pid : pids) {
            int status = 0;
            ASSERT_EQ(waitpid(pid, &status, 0), pid);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
    }
    repo_ = Repository::Open(root_);
    ASSERT_TRUE(repo_);
    for (const wchar_t* ns : {L"root\\SpaceA", L"root\\SpaceB"}) {
        std::vector<CimObject> classes;
        ASSERT_EQ(repo_->EnumClasses(ns, L"", 0, &classes), S_OK);
        size_t user = 0;
        for (const CimObject& c : classes) user += c.className[0] == L'C';
        EXPECT_EQ(user, 150u) << qv::win::ToUtf8(ns);
        std::vector<CimObject> instances;
        ASSERT_EQ(repo_->EnumInstances(ns, std::wstring(L"C") + ns[10] + L"0", 0, &instances), S_OK);
        EXPECT_EQ(instances.size(), 1u);
    }
}

TEST_F(RepositoryTest, MofcompReportsWhatItStoredAndRefusesBadFiles) {
    std::filesystem::path bad = root_ / "bad.mof";
    std::ofstream(bad) << "#pragma namespace(\"root\\\\cimv2\")\nclass Good { };\nclass Bad : Missing { };\n";
    std::string mofcomp = MofcompPath();
    repo_.reset();
    auto run = [&](const std::string& args) {
        std::string command = mofcomp + " " + args + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        std::string output;
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe)) output += buffer;
        int status = pclose(pipe);
        return std::pair{WEXITSTATUS(status), output};
    };
    auto [badCode, badOutput] = run(bad.string());
    EXPECT_EQ(badCode, 2);
    EXPECT_NE(badOutput.find(bad.string() + "(3): error 0x8004100D: unknown superclass 'Missing'"), std::string::npos)
        << badOutput;
    auto [goodCode, goodOutput] = run((MofDir() / "common.mof").string());
    EXPECT_EQ(goodCode, 0) << goodOutput;
    EXPECT_NE(goodOutput.find("Stored class QVT_Setting in root\\QVTest\\Settings"), std::string::npos) << goodOutput;
    EXPECT_EQ(run("").first, 1);
    repo_ = Repository::Open(root_);
    CimObject c;
    EXPECT_EQ(repo_->GetClass(L"root\\cimv2", L"Good", &c), WBEM_E_NOT_FOUND);
}

}  // namespace
}  // namespace qv::wbem
