// ParseQueryClass under arbitrary BSTRs (NULs included): it returns a class part or throws out_of_range only
// for a text that ends with its first "from", and never reads outside the BSTR (ASan watches the copy).

#include "WMIQueryClass.h"
#include "fuzz_text.h"
#include "windows.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace {

[[noreturn]] void Fail(const char* what, const std::wstring& text) {
    std::fprintf(stderr, "query class fuzz: %s for %ls\n", what, text.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring input = WideFromFuzzBytes(data, size);
    // An exact-size heap copy, so that a read past the text is caught.
    BSTR query = SysAllocStringLen(input.data(), static_cast<UINT>(input.size()));
    if (query == nullptr) return 0;

    std::wstring lowered = input.substr(0, input.find(L'\0'));
    CharLowerBuffW(lowered.data(), static_cast<DWORD>(lowered.size()));
    size_t from = lowered.find(L"from");
    try {
        std::wstring name = ParseQueryClass(query);
        if (from == std::wstring::npos && !name.empty()) Fail("class without from", input);
        if (from != std::wstring::npos && from + 5 > lowered.size()) Fail("text ending with from accepted", input);
        if (name.find(L' ') != std::wstring::npos) Fail("space left in the class", input);
        if (name.size() > lowered.size()) Fail("class longer than the query", input);
        if (!name.empty() && lowered.find(name.substr(0, 1), from + 5) == std::wstring::npos)
            Fail("class not from the text", input);
    } catch (const std::out_of_range&) {
        if (from == std::wstring::npos || from + 4 != lowered.size())
            Fail("out_of_range for a query not ending in from", input);
    }
    SysFreeString(query);
    return 0;
}
