#include "generated_profile.h"

#include <cstdio>

namespace {
// Every sixth object (i % 6 == 4) is a byte block.
bool IsByteBlock(int i) { return i % 6 == 4; }
}  // namespace

// The texts of all objects share one string table of at most 65 535 bytes: names of 13 bytes and the few shared
// texts fit 5 000 objects.
std::string GeneratedProfile(int count) {
    std::string objects;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "Setting %04d", i);
        std::string o = "{\"name\": \"" + std::string(name) + "\", \"path\": [\"Advanced\", \"Group " +
                        std::to_string(i % 16) + "\"], ";
        switch (i % 6) {
        case 0: o += R"("type": "enum", "choices": ["Disable", "Enable"], "value": "Enable"})"; break;
        case 1: o += R"("type": "text", "max_length": 32, "value": "generated text"})"; break;
        case 2: o += R"("type": "int", "low": 0, "high": 100, "value": 42})"; break;
        case 3:
            o += R"("type": "ext_enum", "key": ["Port )" + std::to_string(i % 8) +
                 R"("], "choices": ["Off", "On"], "value": "On"})";
            break;
        case 4: o += R"("type": "binary", "value": "0102030405060708"})"; break;
        default: o += R"("type": "orderedlist", "choices": ["First", "Second", "Third"]})"; break;
        }
        objects += (i ? ",\n" : "") + o;
    }
    return "{\"name\": \"generated\", \"system_id\": \"0x0890\", \"system_objects\": {\"objects\": [\n" + objects +
           "\n]}}\n";
}

int PublishedSettings(int count) {
    int published = 0;
    for (int i = 0; i < count; ++i) published += IsByteBlock(i) ? 0 : 1;
    return published;
}
