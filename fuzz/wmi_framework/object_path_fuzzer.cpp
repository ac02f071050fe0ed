// Object path parser under arbitrary input: every text is refused cleanly or parsed; a parsed path obeys the
// parser's promises, formats, parses back to an equal path and formats to the same text again.

#include "WMIObjectPathFormatter.h"
#include "WMIObjectPathParser.h"
#include "fuzz_text.h"

#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void Fail(const char* what, const std::wstring& text) {
    std::fprintf(stderr, "object path fuzz: %s for %ls\n", what, text.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::wstring input = WideFromFuzzBytes(data, size);
    const WMIObjectPathParser parser;
    std::unique_ptr<WMIParsedObjectPath> parsed;
    WMIPathParseResult result = parser.Parse(input.c_str(), parsed);
    if (result != WMIPathParseNoError) {
        if (parsed) Fail("refused path left a result", input);
        if (result != WMIPathParseSyntaxError && result != WMIPathParseInvalidParameter) Fail("bad result code", input);
        return 0;
    }
    if (!parsed) Fail("accepted path without a result", input);
    if (!parsed->namespaces.empty() && !parsed->server) Fail("namespaces without a server", input);
    if (parsed->singleton && !parsed->keys.empty()) Fail("singleton with keys", input);
    for (size_t i = 1; i < parsed->keys.size(); ++i) {
        if (!parsed->keys[i - 1].Name() || !parsed->keys[i].Name()) Fail("unnamed key among several", input);
        if (CompareKeyNames(*parsed->keys[i - 1].Name(), *parsed->keys[i].Name()) > 0) Fail("keys not sorted", input);
    }
    for (const WMIPathKey& key : parsed->keys) {
        VARTYPE vt = key.Value().vt;
        if (vt != VT_I4 && !(vt == VT_BSTR && key.Value().bstrVal != nullptr)) Fail("key of unexpected type", input);
    }

    std::wstring formatted;
    if (!FormatObjectPath(*parsed, formatted)) Fail("parsed path does not format", input);
    std::unique_ptr<WMIParsedObjectPath> reparsed;
    if (parser.Parse(formatted.c_str(), reparsed) != WMIPathParseNoError) Fail("formatted text refused", formatted);
    if (!(*parsed == *reparsed)) Fail("round trip changed the path", input);
    std::wstring again;
    if (!FormatObjectPath(*reparsed, again) || again != formatted) Fail("formatting is not stable", input);

    WMIParsedObjectPath copy = *parsed;
    if (!(copy == *parsed)) Fail("copy differs", input);
    return 0;
}
