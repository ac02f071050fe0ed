// The fragments of the change report a commit composes: HTML list items for texts, integers, ordered lists and
// a setup password that did not unlock, XML SETTING elements for enumerations. The texts are fixed (tools
// that replicate settings read them); names and values are inserted as they are.
#pragma once

#include <string>
#include <vector>

namespace zmrmc::report {

std::string UnlockRefused();
// changeStatus "pass" when `changed`, else "fail"; the old and the requested choice.
std::string Enumeration(bool changed, const std::string& name, const std::string& old, const std::string& requested);
std::string TextChanged(const std::string& name, const std::string& old, const std::string& fresh);
// Numbers as signed decimals, in the order upper bound, lower bound, value (old, then new).
std::string IntegerChanged(const std::string& name, int oldUpper, int newUpper, int oldLower, int newLower,
                           int oldValue, int newValue);
// The list before and after the write.
std::string ListChanged(const std::string& name, const std::vector<std::string>& old,
                        const std::vector<std::string>& now);
// The list asked for and the one the firmware reports after the write.
std::string ListNotAsRequested(const std::string& name, const std::vector<std::string>& requested,
                               const std::vector<std::string>& now);

}  // namespace zmrmc::report
