// What the flash tests make: images of test bytes, their signatures (made with the test build's private key,
// which never enters the library), cabinets made by an independent tool (gcab), and files.
#pragma once

#include "qv_child_process.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The key pair whose public half the library carries, and a key pair of nobody's.
inline std::string SigningKey() { return QVT_FLASH_KEYS "/flash_signing_key.pem"; }
inline std::string OtherKey() { return QVT_FLASH_KEYS "/other_signing_key.pem"; }

// `size` bytes that differ from block to block and from seed to seed.
inline Bytes TestImage(size_t size, uint32_t seed) {
    Bytes image(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        image[i] = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

// The MD5 RSA signature of `image` with the private key in `keyPem`, least significant byte first (the
// platform's order).
inline Bytes Sign(const Bytes& image, const std::string& keyPem) {
    FILE* file = std::fopen(keyPem.c_str(), "r");
    if (file == nullptr) return {};
    EVP_PKEY* key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (key == nullptr) return {};
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    size_t length = 0;
    Bytes signature;
    if (EVP_DigestSignInit(context, nullptr, EVP_md5(), nullptr, key) == 1 &&
        EVP_DigestSign(context, nullptr, &length, image.data(), image.size()) == 1) {
        signature.resize(length);
        if (EVP_DigestSign(context, signature.data(), &length, image.data(), image.size()) != 1) signature.clear();
    }
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    return Bytes(signature.rbegin(), signature.rend());
}

inline void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct CabinetEntry {
    std::string name;
    Bytes bytes;
};

// A cabinet made by gcab in `folder` from `entries` (MSZIP-compressed or stored); empty when gcab failed.
inline std::filesystem::path MakeCabinet(const std::filesystem::path& folder, const std::string& name,
                                         const std::vector<CabinetEntry>& entries, bool compressed) {
    std::filesystem::path sources = folder / (name + ".files");
    std::filesystem::create_directories(sources);
    std::vector<std::string> args = {"/usr/bin/gcab", "--create", "--nopath"};
    if (compressed) args.push_back("--zip");
    std::filesystem::path cabinet = folder / name;
    args.push_back(cabinet.string());
    for (const CabinetEntry& entry : entries) {
        WriteBytes(sources / entry.name, entry.bytes);
        args.push_back((sources / entry.name).string());
    }
    int code = WaitChild(StartChild(args, folder / "gcab.out", folder / "gcab.err"), std::chrono::seconds(60));
    std::filesystem::remove_all(sources);
    if (code != 0) return {};
    return cabinet;
}

// The image and its signature as a cabinet's entries.
inline std::vector<CabinetEntry> SignedEntries(const Bytes& image, const std::string& imageName = "ROM.BIN",
                                               const std::string& signatureName = "ROM.SIG") {
    return {{imageName, image}, {signatureName, Sign(image, SigningKey())}};
}
