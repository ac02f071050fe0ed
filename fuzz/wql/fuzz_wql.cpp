// The WQL parser on arbitrary text; every query that parses is evaluated against an object holding values of
// each kind, and LIKE runs on the input split into text and pattern.
#include "qv_wql.h"

#include "property_bag.h"
#include "qv_system_root.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring text = qv::win::FromUtf8(std::string(reinterpret_cast<const char*>(data), size));
    qv::wql::Query query;
    qv::wql::ParseError error;
    HRESULT hr = qv::wql::Parse(text, &query, &error);
    if (hr == WBEM_S_NO_ERROR) {
        if (query.class_name.empty()) std::abort();
        static PropertyBag* object = [] {
            auto* bag = new PropertyBag();
            auto* inner = new PropertyBag();
            inner->Text(L"__CLASS", L"Inner").Number(L"N", 3);
            bag->Text(L"Name", L"Boot Mode").Number(L"Sequence", 7).Flag(L"IsReadOnly", true);
            bag->Text(L"Big", L"18446744073709551615", CIM_UINT64).Null(L"Empty", CIM_STRING);
            bag->Object(L"TargetInstance", inner);
            return bag;
        }();
        qv::wql::Matches(query, object);
    } else if (hr != WBEM_E_INVALID_QUERY || error.offset > text.size()) {
        std::abort();
    }
    size_t half = text.size() / 2;
    qv::wql::Like(text.substr(0, half), text.substr(half));
    return 0;
}
