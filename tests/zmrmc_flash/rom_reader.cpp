// qvt_rom_reader ROOT OUT [PASSWORD-HEX]: the flash part of ROOT's machine as its firmware reads it, written
// to OUT, from a process of its own (nothing of the flashing process's memory). Exit 0, 2 when the machine
// cannot be opened, 3 when the firmware does not answer or refuses.

#include "qv_firmware.h"
#include "qv_machine.h"

#include <cstdio>
#include <exception>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    try {
        auto machine = qv::machine::Machine::Open(argv[1]);
        qv::machine::Bytes password;
        std::string hex = argc > 3 ? argv[3] : "";
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            password.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
        qv::machine::Bytes rom;
        uint8_t status = 0xFF;
        qv::machine::CallOutcome outcome;
        machine->Transact(
            [&](qv::machine::Firmware& f) { status = f.FlashRead(rom, f.FlashSize(), password, outcome); });
        if (!outcome.reached || status != 0) return 3;
        std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(rom.data()), static_cast<std::streamsize>(rom.size()));
        return out ? 0 : 3;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}
