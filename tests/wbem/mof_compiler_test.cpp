// The MOF compiler: what is compiled reads back exactly, dumps compile back to the same repository, and
// refused files change nothing and say where and why.
#include "wbem_test_support.h"

namespace qv::wbem {
namespace {

using namespace qv::wbem::testing;

class MofCompilerTest : public TempRootTest {
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
    MofResult CompileText(const std::wstring& text) { return CompileMofText(text, "test.mof", *repo_); }
    static constexpr const wchar_t* kNs = L"root\\QVTest\\Settings";
    std::unique_ptr<Repository> repo_;
};

TEST_F(MofCompilerTest, StoredSchemaReadsBackExactly) {
    CompileSchema();
    CimObject e;
    ASSERT_EQ(repo_->GetClass(kNs, L"QVTP_Enumeration", &e), S_OK);
    ASSERT_EQ(e.derivation, (std::vector<std::wstring>{L"QVT_Enumeration", L"QVT_Setting"}));
    EXPECT_TRUE(HasTrueQualifier(e.qualifiers, L"dynamic"));
    EXPECT_EQ(FindQualifier(e.qualifiers, L"provider")->value, CimValue::String(L"QVT_Provider"));
    const Property* values = FindProperty(e, L"PossibleValues");
    ASSERT_TRUE(values);
    EXPECT_EQ(values->type, CIM_STRING | CIM_FLAG_ARRAY);
    EXPECT_EQ(values->origin, L"QVT_Enumeration");
    EXPECT_EQ(FindQualifier(values->qualifiers, L"MAX")->value, CimValue::Sint(CIM_SINT32, 12));
    EXPECT_EQ(FindQualifier(values->qualifiers, L"WMIDataID")->value, CimValue::Sint(CIM_SINT32, 7));

    CimObject sensor;
    ASSERT_EQ(repo_->GetClass(kNs, L"QVT_Sensor", &sensor), S_OK);
    const Qualifier* map = FindQualifier(FindProperty(sensor, L"SensorType")->qualifiers, L"ValueMap");
    ASSERT_TRUE(map);
    EXPECT_EQ(map->value.elements.size(), 5u);
    EXPECT_EQ(std::get<std::wstring>(map->value.elements[4]), L"0x8000..");

    CimObject numeric;
    ASSERT_EQ(repo_->GetClass(kNs, L"QVT_NumericSensor", &numeric), S_OK);
    EXPECT_EQ(FindProperty(numeric, L"UnitModifier")->value, CimValue::Sint(CIM_SINT32, -3));
    EXPECT_EQ(FindProperty(numeric, L"CurrentReading")->value, CimValue::Uint(CIM_UINT32, 16));

    CimObject sample;
    ASSERT_EQ(repo_->GetInstance(kNs, L"QVT_Sample.Id=\"first\"", &sample), S_OK);
    EXPECT_EQ(FindProperty(sample, L"S64")->value, CimValue::Sint(CIM_SINT64, INT64_MIN));
    EXPECT_EQ(FindProperty(sample, L"U64")->value, CimValue::Uint(CIM_UINT64, UINT64_MAX));
    EXPECT_EQ(FindProperty(sample, L"R64")->value.elements[0], CimScalar(-2.25e-3));
    EXPECT_EQ(FindProperty(sample, L"C16")->value, CimValue::Uint(CIM_CHAR16, L'x'));
    const CimValue& embedded = FindProperty(sample, L"Embedded")->value;
    ASSERT_FALSE(embedded.null);
    auto inner = std::get<std::shared_ptr<CimObject>>(embedded.elements[0]);
    EXPECT_EQ(FindProperty(*inner, L"U8")->value, CimValue::Uint(CIM_UINT8, 7));
    CimObject second;
    ASSERT_EQ(repo_->GetInstance(kNs, L"QVT_Sample=\"second\"", &second), S_OK);
    EXPECT_EQ(FindProperty(second, L"Next")->value.elements[0], CimScalar(std::wstring(L"QVT_Sample.Id=\"first\"")));
    EXPECT_TRUE(FindProperty(second, L"Text")->value.null);
    EXPECT_EQ(FindProperty(second, L"Many")->value.elements.size(), 0u);
    EXPECT_FALSE(FindProperty(second, L"Many")->value.null);
}

TEST_F(MofCompilerTest, DumpCompiledIntoAFreshRootGivesTheSameRepository) {
    CompileSchema();
    std::wstring dump = Dump(*repo_);
    auto before = Snapshot(*repo_);

    char pattern[] = "/tmp/qv-root-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::path fresh = pattern;
    {
        auto other = Repository::Open(fresh);
        ASSERT_TRUE(other);
        MofResult r = CompileMofText(dump, "dump.mof", *other);
        ASSERT_TRUE(r.ok) << FormatMofError(r) << "\n" << qv::win::ToUtf8(dump);
        auto after = Snapshot(*other);
        EXPECT_EQ(after.size(), before.size());
        for (const auto& [key, bytes] : before) {
            auto it = after.find(key);
            ASSERT_NE(it, after.end()) << key;
            EXPECT_TRUE(it->second == bytes) << key;
        }
        EXPECT_EQ(Dump(*other), dump);
    }
    std::filesystem::remove_all(fresh);
}

TEST_F(MofCompilerTest, CompilingTheSameFilesAgainChangesNothing) {
    CompileSchema();
    auto before = Snapshot(*repo_);
    CompileSchema();
    EXPECT_TRUE(Snapshot(*repo_) == before);
}

TEST_F(MofCompilerTest, AnErrorAtTheEndLeavesTheRepositoryAsItWas) {
    CompileSchema();
    auto before = Snapshot(*repo_);
    std::string text = ReadText(MofDir() / "provider.mof");
    std::wstring changed = DecodeMofBytes(text);
    size_t pos = changed.find(L"QVT_Provider\"");
    changed.replace(pos, 12, L"QVT_Other");
    pos = changed.find(L"class QVT_Sample");
    changed.replace(pos, 16, L"class QVT_Sample2");
    changed += L"\ninstance of __Namespace { Name = \"Late\"; };\nclass QVT_Bad : QVT_Missing { };\n";
    MofResult r = CompileMofText(changed, "late.mof", *repo_, MofOptions{kNs});
    ASSERT_FALSE(r.ok);
    EXPECT_EQ(r.code, WBEM_E_INVALID_SUPERCLASS);
    EXPECT_EQ(r.line, static_cast<int>(std::count(changed.begin(), changed.end(), L'\n')));
    EXPECT_NE(FormatMofError(r).find("late.mof("), std::string::npos);
    EXPECT_TRUE(Snapshot(*repo_) == before);
    EXPECT_FALSE(repo_->NamespaceExists(std::wstring(kNs) + L"\\Late"));
}

TEST_F(MofCompilerTest, MalformedFilesAreRefusedWithLineAndReason) {
    CompileSchema();
    auto before = Snapshot(*repo_);
    const std::wstring pre =
        L"#pragma namespace(\"\\\\\\\\.\\\\root\\\\QVTest\\\\Settings\")\nclass QVT_Ok { [key] string K; };\n";
    struct Case {
        const wchar_t* text;
        int line;
        HRESULT code;
        const char* reason;
    } cases[] = {
        {L"class X { string A }", 3, WBEM_E_INVALID_SYNTAX, "expected ';'"},
        {L"class X : Nowhere { };", 3, WBEM_E_INVALID_SUPERCLASS, "unknown superclass"},
        {L"class X { ulong A; };", 3, WBEM_E_INVALID_PROPERTY_TYPE, "unknown type"},
        {L"class X {\n string A;\n uint32 a; };", 5, WBEM_E_INVALID_PROPERTY, "duplicate property"},
        {L"class X : QVT_Sensor { uint32 Name; };", 3, WBEM_E_TYPE_MISMATCH, "different type"},
        {L"class X { uint8 A = 256; };", 3, WBEM_E_VALUE_OUT_OF_RANGE, "out of range"},
        {L"class X { uint8 A = -1; };", 3, WBEM_E_VALUE_OUT_OF_RANGE, "out of range"},
        {L"class X { boolean A = \"yes\"; };", 3, WBEM_E_TYPE_MISMATCH, "does not fit"},
        {L"class X { datetime A = \"tomorrow\"; };", 3, WBEM_E_TYPE_MISMATCH, "DMTF"},
        {L"class X { string A = \"open; };", 3, WBEM_E_INVALID_SYNTAX, "unterminated string"},
        {L"class X { string A = \"open;\n };", 3, WBEM_E_INVALID_SYNTAX, "line break"},
        {L"/* never closed\nclass X { };", 3, WBEM_E_INVALID_SYNTAX, "unterminated comment"},
        {L"instance of QVT_Ok { Missing = 1; };", 3, WBEM_E_NOT_FOUND, "unknown property"},
        {L"instance of QVT_Ok { K = 1; };", 3, WBEM_E_TYPE_MISMATCH, "does not fit"},
        {L"instance of QVT_Ok { };", 3, WBEM_E_ILLEGAL_NULL, "key"},
        {L"instance of QVT_Setting { Name = \"x\"; };", 3, WBEM_E_INVALID_OPERATION, "abstract"},
        {L"instance of Nothing { };", 3, WBEM_E_INVALID_CLASS, "unknown class"},
        {L"instance of QVT_Sample { Id = \"x\"; Next = $nowhere; };", 3, WBEM_E_NOT_FOUND, "undefined alias"},
        {L"class __Mine { };", 3, WBEM_E_ACCESS_DENIED, "reserved"},
        {L"#pragma namespace(\"\\\\\\\\.\\\\root\\\\Nope\")", 3, WBEM_E_INVALID_NAMESPACE, "does not exist"},
        {L"#pragma include(\"missing.mof\")", 3, WBEM_E_NOT_FOUND, "cannot include 'missing.mof'"},
        {L"#pragma unknown(\"x\")", 3, WBEM_E_NOT_SUPPORTED, "unsupported"},
        {L"[key, key] class X { };", 3, WBEM_E_INVALID_QUALIFIER, "duplicate qualifier"},
        {L"class X { [Flavor: Sideways] string A; };", 3, WBEM_E_INVALID_SYNTAX, "flavor"},
        {L"class X { void M([in] string A, [out] string a); };", 3, WBEM_E_INVALID_DUPLICATE_PARAMETER,
         "duplicate parameter"},
        {L"class X { uint32 A = 99999999999999999999; };", 3, WBEM_E_INVALID_SYNTAX, "too large"},
        {L"class QVT_Sensor { };", 3, WBEM_E_CLASS_HAS_CHILDREN, "subclasses"},
        {L"class QVT_Ok : QVT_Ok { };", 3, WBEM_E_INVALID_SUPERCLASS, "cannot derive from itself"},
        {L"class QVT_Sample : QVT_Sample { };", 3, WBEM_E_INVALID_SUPERCLASS, "cannot derive from itself"},
        {L"class Y : QVT_Ok { };\nclass qvt_ok : Y { };", 4, WBEM_E_INVALID_SUPERCLASS, "cannot derive from itself"},
    };
    for (const Case& c : cases) {
        MofResult r = CompileText(pre + c.text);
        EXPECT_FALSE(r.ok) << qv::win::ToUtf8(c.text);
        EXPECT_EQ(r.line, c.line) << qv::win::ToUtf8(c.text) << ": " << r.reason;
        EXPECT_EQ(static_cast<unsigned>(r.code), static_cast<unsigned>(c.code))
            << qv::win::ToUtf8(c.text) << ": " << r.reason;
        EXPECT_NE(r.reason.find(c.reason), std::string::npos) << qv::win::ToUtf8(c.text) << ": " << r.reason;
    }
    EXPECT_TRUE(Snapshot(*repo_) == before);
}

TEST_F(MofCompilerTest, LiteralsAndPragmasAreUnderstood) {
    MofResult r = CompileText(
        L"#pragma namespace(\"root\\\\cimv2\")\n"
        L"qualifier Description : string = NULL, scope(any), flavor(amended);\n"
        L"[Description(\"a\" \"b\\x41\\n\"): Amended, singleton] class Lit {\n"
        L"  sint32 Hex = -0x10; real64 R = .5; real32 E = 1e3; string S = \"\\\\\\\"\"; char16 C = '\\n';\n"
        L"  boolean B[] = {true, FALSE}; string N = null;\n"
        L"};\n"
        L"instance of Lit { Hex = 0x7FFFFFFF; };\n"
        L"#pragma deleteclass(\"NotThere\", NOFAIL)\n");
    ASSERT_TRUE(r.ok) << FormatMofError(r);
    CimObject lit;
    ASSERT_EQ(repo_->GetClass(L"root\\cimv2", L"Lit", &lit), S_OK);
    const Qualifier* d = FindQualifier(lit.qualifiers, L"Description");
    EXPECT_EQ(d->value, CimValue::String(L"abA\n"));
    EXPECT_TRUE(d->flavor & WBEM_FLAVOR_AMENDED);
    EXPECT_EQ(FindProperty(lit, L"Hex")->value, CimValue::Sint(CIM_SINT32, -16));
    EXPECT_EQ(FindProperty(lit, L"R")->value.elements[0], CimScalar(0.5));
    EXPECT_EQ(FindProperty(lit, L"E")->value.elements[0], CimScalar(1000.0));
    EXPECT_EQ(FindProperty(lit, L"S")->value, CimValue::String(L"\\\""));
    EXPECT_EQ(FindProperty(lit, L"C")->value, CimValue::Uint(CIM_CHAR16, L'\n'));
    EXPECT_EQ(FindProperty(lit, L"B")->value.elements.size(), 2u);
    EXPECT_TRUE(FindProperty(lit, L"N")->value.null);
    CimObject single;
    ASSERT_EQ(repo_->GetInstance(L"root\\cimv2", L"Lit=@", &single), S_OK);
    EXPECT_EQ(FindProperty(single, L"Hex")->value, CimValue::Sint(CIM_SINT32, INT32_MAX));
    EXPECT_EQ(r.stored, (std::vector<std::wstring>{L"class Lit in root\\cimv2", L"instance Lit=@ in root\\cimv2"}));
}

TEST_F(MofCompilerTest, Utf16FilesWithByteOrderMarkAreRead) {
    std::wstring text = L"#pragma namespace(\"root\\\\cimv2\")\nclass Wide { string Caf\u00e9 = \"\u20ac\"; };\n";
    std::string bytes = "\xFF\xFE";
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>((c >> 8) & 0xFF);
    }
    MofResult r = CompileMofText(DecodeMofBytes(bytes), "wide.mof", *repo_);
    ASSERT_TRUE(r.ok) << FormatMofError(r);
    CimObject wide;
    ASSERT_EQ(repo_->GetClass(L"root\\cimv2", L"Wide", &wide), S_OK);
    EXPECT_EQ(FindProperty(wide, L"Caf\u00e9")->value, CimValue::String(L"\u20ac"));
    EXPECT_EQ(DecodeMofBytes("caf\xe9"), L"caf\u00e9");  // not UTF-8: Windows-1252
}

}  // namespace
}  // namespace qv::wbem
