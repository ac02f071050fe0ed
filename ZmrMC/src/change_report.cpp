#include "change_report.h"

#include <cstdarg>
#include <cstdio>

namespace zmrmc::report {
namespace {

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string Items(const std::vector<std::string>& texts) {
    std::string items;
    for (const std::string& text : texts) items += Format("<li>&nbsp;%s</li>", text.c_str());
    return items;
}

}  // namespace

std::string UnlockRefused() {
    return "<li>&nbsp;Can't update the replicated setup settings.  The Setup password does not match.</li>\n";
}

std::string Enumeration(bool changed, const std::string& name, const std::string& old, const std::string& requested) {
    if (changed)
        return Format(
            "<SETTING changeStatus=\"pass\" name=\"%s\">\n\t<OLDVALUE>%s</OLDVALUE>\n\t<NEWVALUE>%s</NEWVALUE>\n"
            "</SETTING>\n",
            name.c_str(), old.c_str(), requested.c_str());
    return Format(
        "<SETTING changeStatus=\"fail\" name=\"%s\">\n\t<OLDVALUE>%s</OLDVALUE>\n\t<NEWVALUE>%s</NEWVALUE>\n"
        "</SETTING>\n",
        name.c_str(), old.c_str(), requested.c_str());
}

std::string TextChanged(const std::string& name, const std::string& old, const std::string& fresh) {
    return Format("<li>&nbsp;Changed the setting of '%s' from '%s' to '%s'.</li>\n", name.c_str(), old.c_str(),
                  fresh.c_str());
}

std::string IntegerChanged(const std::string& name, int oldUpper, int newUpper, int oldLower, int newLower,
                           int oldValue, int newValue) {
    return Format(
        "<li>&nbsp;Changed '%s' Integer Setting:Max From %d To %d,Min From %d To %d,Value From %d To %d.</li>\n",
        name.c_str(), oldUpper, newUpper, oldLower, newLower, oldValue, newValue);
}

std::string ListChanged(const std::string& name, const std::vector<std::string>& old,
                        const std::vector<std::string>& now) {
    return Format("<li>&nbsp;Changed '%s' List Setting from:</li>\n", name.c_str()) + "<UL>" + Items(old) +
           "</UL><p>To:</p><UL>" + Items(now) + "</UL>";
}

std::string ListNotAsRequested(const std::string& name, const std::vector<std::string>& requested,
                               const std::vector<std::string>& now) {
    return Format("<li>&nbsp;System did not change '%s' as requested.  Requested order was:</li>\n", name.c_str()) +
           "<UL>" + Items(requested) + "</UL><p>After writing, the system reports:</p><UL>" + Items(now) + "</UL>";
}

}  // namespace zmrmc::report
