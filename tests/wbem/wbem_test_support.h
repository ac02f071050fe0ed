// Helpers of the WMI tests: a repository in a fresh system root, MOF compilation, snapshots and dumps.
#pragma once

#include "atlbase.h"
#include "qv_class_object.h"
#include "qv_mof_compiler.h"
#include "qv_object_codec.h"
#include "qv_temp_root.h"
#include "qv_wbem_repository.h"
#include "wrl/client.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

namespace qv::wbem::testing {

inline std::filesystem::path MofDir() { return QV_WBEM_TEST_MOF_DIR; }

// The mofcomp program of this build.
inline std::string MofcompPath() {
    if (const char* dir = std::getenv("QV_BUILD_DIR")) return std::string(dir) + "/bin/mofcomp";
    return (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "bin" / "mofcomp").string();
}

inline std::string ReadText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every class and static instance of every namespace, keyed by "ns|class|path", as codec bytes so that
// comparison covers everything stored.
inline std::map<std::string, std::vector<uint8_t>> Snapshot(Repository& repo) {
    std::map<std::string, std::vector<uint8_t>> all;
    for (const std::wstring& ns : repo.Namespaces()) {
        std::vector<CimObject> classes;
        EXPECT_EQ(repo.EnumClasses(ns, L"", 0, &classes), S_OK);
        for (CimObject& c : classes) {
            std::string key = qv::win::ToUtf8(LowerName(ns) + L"|" + c.className);
            all[key] = EncodeObject(c);
            if (c.superclass.empty() || true) {
                std::vector<CimObject> instances;
                EXPECT_EQ(repo.EnumInstances(ns, c.className, WBEM_FLAG_SHALLOW, &instances), S_OK);
                for (CimObject& i : instances) all[key + "|" + qv::win::ToUtf8(RelativePath(i))] = EncodeObject(i);
            }
        }
    }
    return all;
}

// The whole repository as MOF: per namespace a namespace pragma, the user classes (superclasses first),
// then the static instances; child namespaces come from their __NAMESPACE instances.
inline std::wstring Dump(Repository& repo) {
    std::wstring text;
    for (const std::wstring& ns : repo.Namespaces()) {
        text += L"#pragma namespace(\"\\\\\\\\.\\\\";
        for (wchar_t c : ns) text += c == L'\\' ? std::wstring(L"\\\\") : std::wstring(1, c);
        text += L"\")\n";
        std::vector<CimObject> classes;
        EXPECT_EQ(repo.EnumClasses(ns, L"", 0, &classes), S_OK);
        for (const CimObject& c : classes) {
            if (c.className.compare(0, 2, L"__") == 0) continue;
            CComBSTR mof;
            Microsoft::WRL::ComPtr<IWbemClassObject> object;
            object.Attach(CreateClassObject(c));
            EXPECT_EQ(object->GetObjectText(0, &mof), S_OK);
            text += std::wstring(mof, mof.Length()) + L"\n";
        }
        for (const CimObject& c : classes) {
            std::vector<CimObject> instances;
            EXPECT_EQ(repo.EnumInstances(ns, c.className, WBEM_FLAG_SHALLOW, &instances), S_OK);
            for (const CimObject& i : instances) {
                if (NamesEqual(c.className, L"__NAMESPACE") &&
                    (NamesEqual(ns + L"\\" + std::get<std::wstring>(FindProperty(i, L"Name")->value.elements[0]),
                                L"root\\cimv2") ||
                     NamesEqual(ns + L"\\" + std::get<std::wstring>(FindProperty(i, L"Name")->value.elements[0]),
                                L"root\\default")))
                    continue;
                text += ObjectText(i) + L"\n";
            }
        }
    }
    return text;
}

inline MofResult Compile(Repository& repo, const std::string& name) { return CompileMofFile(MofDir() / name, repo); }

}  // namespace qv::wbem::testing
