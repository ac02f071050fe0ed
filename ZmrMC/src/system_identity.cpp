#include "system_identity.h"

#include "text_case.h"

#include <cctype>
#include <cstring>

namespace zmrmc {

SystemInformation ParseSystemInformation(const std::vector<uint8_t>& bytes) {
    SystemInformation info;
    if (bytes.size() < 4 || std::memcmp(bytes.data(), "!SIT", 4) != 0) return info;
    size_t at = 4;
    while (at + 2 <= bytes.size()) {
        uint8_t type = bytes[at], length = bytes[at + 1];
        if (length == 0) break;  // a type word below 256 ends the table
        if (bytes.size() - at - 2 < length) break;
        const uint8_t* data = bytes.data() + at + 2;
        if (type == 7 && length > 3) info.machine_class = static_cast<uint8_t>(data[2] & 0x3F);
        if (type == 16) info.product_name = FieldText(data, length);
        at += 2u + length;
    }
    return info;
}

std::optional<uint16_t> SystemIdFromSmbiosNames(const std::string& manufacturer, const std::string& boardProduct) {
    std::string maker = Trimmed(manufacturer);
    if (!EqualsIgnoringCase(maker.c_str(), "Brevik") && !EqualsIgnoringCase(maker.c_str(), "Tornell-Voskard"))
        return std::nullopt;
    std::string product = Trimmed(boardProduct);
    for (char& c : product) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!product.empty() && product.back() == 'H') product.pop_back();
    if (product.empty() || product.size() > 4) return std::nullopt;  // more than 16 bits is no identifier
    for (char c : product)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    return static_cast<uint16_t>(std::stoul(product, nullptr, 16));
}

std::string RomFamilyText(uint8_t digit, uint8_t letter, uint8_t revision, bool portable, uint16_t systemId) {
    std::string family;
    if (!portable || systemId < 2008 || systemId == 2032) {
        family = std::to_string(digit) + "86";
    } else {
        family = "68";
        family += static_cast<char>(digit);
    }
    family += static_cast<char>(letter);
    if (revision != ' ') {
        if (revision > 9)
            family += static_cast<char>(revision);
        else
            family += static_cast<char>('0' + revision);
    }
    return family;
}

bool PortableChassis(uint8_t chassisType) {
    uint8_t type = chassisType & 0x7F;
    return type == 8 || type == 9 || type == 10 || type == 14;
}

std::string FieldText(const uint8_t* bytes, size_t length) {
    size_t end = 0;
    while (end < length && bytes[end] != 0) ++end;
    return std::string(reinterpret_cast<const char*>(bytes), end);
}

std::string Trimmed(const std::string& text) {
    const char* blanks = " \t\r\n";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

}  // namespace zmrmc
