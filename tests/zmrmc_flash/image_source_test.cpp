// Where an image comes from and whether it is trusted: loose pairs and cabinets made by gcab (compressed and
// stored, entry names in other letter case, entries missing, damaged bytes), and the signature against the
// library's public key blob (good, wrong, missing, another key, a damaged blob).

#include "cabinet_reader.h"
#include "flash_fixtures.h"

#include <gtest/gtest.h>
#include "image_signature.h"
#include "rom_image.h"

#include <cstdlib>

namespace {

using zmrmc::SignatureCheck;

Bytes PublicKeyBlob() { return ReadBytes(QV_SOURCE_TREE "/ZmrMC/resources/flash_public_key.blob"); }

class ImageSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-flash-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST(ImageSignature, ChecksAgainstTheLibrarysKey) {
    Bytes image = TestImage(0x40000, 1), key = PublicKeyBlob();
    ASSERT_EQ(key.size(), 84u);
    Bytes good = Sign(image, SigningKey());
    ASSERT_EQ(good.size(), 64u);
    EXPECT_EQ(zmrmc::CheckImageSignature(image, good, key), SignatureCheck::kVerified);

    Bytes flipped = good;
    flipped[10] ^= 1;
    Bytes otherImage = image;
    otherImage[0x3FFFF] ^= 0x80;
    struct {
        const char* what;
        Bytes image, signature;
    } refused[] = {
        {"signature byte changed", image, flipped},
        {"image byte changed", otherImage, good},
        {"another key's signature", image, Sign(image, OtherKey())},
        {"empty signature", image, {}},
        {"signature one byte short", image, Bytes(good.begin(), good.end() - 1)},
        {"signature in the wrong byte order", image, Bytes(good.rbegin(), good.rend())},
    };
    for (const auto& c : refused)
        EXPECT_EQ(zmrmc::CheckImageSignature(c.image, c.signature, key), SignatureCheck::kMismatch) << c.what;
}

TEST(ImageSignature, RefusesBlobsThatAreNoRsaSignaturePublicKey) {
    Bytes image = TestImage(0x40000, 2), key = PublicKeyBlob(), signature = Sign(image, SigningKey());
    auto with = [&](size_t at, uint8_t value) {
        Bytes b = key;
        b[at] = value;
        return b;
    };
    struct {
        const char* what;
        Bytes blob;
    } cases[] = {
        {"private key blob type", with(0, 0x07)},
        {"key exchange algorithm", with(5, 0xA4)},
        {"magic RSA2", with(11, '2')},
        {"bit length not the modulus", with(12, 0x08)},
        {"truncated", Bytes(key.begin(), key.end() - 1)},
        {"empty", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(zmrmc::CheckImageSignature(image, signature, c.blob), SignatureCheck::kBadKey) << c.what;
}

TEST_F(ImageSourceTest, LoosePairsEndInBinInAnyCase) {
    Bytes image = TestImage(0x40000, 3), signature = Sign(image, SigningKey());
    struct {
        const char* image;
        const char* signature;
        bool loose;
    } cases[] = {
        {"NEW.BIN", "NEW.SIG", true},    {"new.bin", "new.SIG", true},
        {"new.bin", "new.sig", true},  // no ".SIG": the signature spelt as the image's extension
        {"New.Bin", "New.SIG", true},    {"new.cab", nullptr, false},
        {"new.bin.cab", nullptr, false}, {"newbin", nullptr, false},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::string path = (dir_ / c.image).string();
        EXPECT_EQ(zmrmc::IsLooseImagePath(path.c_str()), c.loose) << c.image;
        if (!c.loose) continue;
        WriteBytes(path, image);
        WriteBytes(dir_ / c.signature, signature);
        zmrmc::RomImage rom = zmrmc::ReadRomImage(path.c_str());
        EXPECT_EQ(rom.image, image) << c.image;
        ASSERT_TRUE(rom.signature.has_value()) << c.image;
        EXPECT_EQ(*rom.signature, signature) << c.image;
    }
}

TEST_F(ImageSourceTest, LooseImageWithoutSignatureOrFile) {
    Bytes image = TestImage(0x3FFFF, 4);
    WriteBytes(dir_ / "SHORT.BIN", image);
    zmrmc::RomImage rom = zmrmc::ReadRomImage((dir_ / "SHORT.BIN").c_str());
    EXPECT_EQ(rom.image, image);
    EXPECT_FALSE(rom.signature.has_value());
    rom = zmrmc::ReadRomImage((dir_ / "MISSING.BIN").c_str());
    EXPECT_TRUE(rom.image.empty());
    rom = zmrmc::ReadRomImage(dir_.c_str());  // a folder is no cabinet
    EXPECT_TRUE(rom.image.empty());
    EXPECT_TRUE(zmrmc::ReadRomImage(nullptr).image.empty());
    EXPECT_TRUE(zmrmc::ReadRomImage("").image.empty());
}

// Cabinets made by gcab, compressed and stored, read through the library's path reader.
TEST_F(ImageSourceTest, CabinetsOfGcab) {
    Bytes image = TestImage(0x40000, 5), signature = Sign(image, SigningKey());
    struct {
        const char* what;
        std::vector<CabinetEntry> entries;
        bool image, signature;
    } cases[] = {
        {"both entries", {{"ROM.BIN", image}, {"ROM.SIG", signature}}, true, true},
        {"names in other case, other entries too",
         {{"readme.txt", Bytes(100, 'x')}, {"rom.bin", image}, {"Rom.Sig", signature}},
         true,
         true},
        {"without ROM.BIN", {{"ROM.SIG", signature}, {"OTHER.BIN", image}}, false, true},
        {"without ROM.SIG", {{"ROM.BIN", image}}, true, false},
    };
    for (bool compressed : {true, false}) {
        for (const auto& c : cases) {
            std::filesystem::path cab = MakeCabinet(dir_, "rom.cab", c.entries, compressed);
            ASSERT_FALSE(cab.empty()) << c.what;
            zmrmc::RomImage rom = zmrmc::ReadRomImage(cab.c_str());
            std::string label = std::string(c.what) + (compressed ? " (MSZIP)" : " (stored)");
            EXPECT_EQ(rom.image.empty(), !c.image) << label;
            if (c.image) {
                EXPECT_EQ(rom.image, image) << label;
            }
            EXPECT_EQ(rom.signature.has_value(), c.signature) << label;
            if (c.signature && rom.signature) {
                EXPECT_EQ(*rom.signature, signature) << label;
            }
        }
    }
}

// Damaged cabinets give no image at all, whatever was damaged.
TEST_F(ImageSourceTest, DamagedCabinetsGiveNothing) {
    Bytes image = TestImage(0x40000, 6);
    for (bool compressed : {true, false}) {
        std::filesystem::path cab = MakeCabinet(dir_, "rom.cab", SignedEntries(image), compressed);
        ASSERT_FALSE(cab.empty());
        Bytes good = ReadBytes(cab);
        auto damaged = [&](size_t at) {
            Bytes b = good;
            b[at] ^= 0x5A;
            return b;
        };
        struct {
            const char* what;
            Bytes bytes;
        } cases[] = {
            {"truncated in the data", Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2))},
            {"truncated in the header", Bytes(good.begin(), good.begin() + 20)},
            {"signature MSCF changed", damaged(0)},
            {"a data byte changed", damaged(good.size() / 2)},
            {"the last byte changed", damaged(good.size() - 1)},
            {"empty", {}},
        };
        for (const auto& c : cases) {
            std::optional<zmrmc::CabinetEntries> entries = zmrmc::ExtractCabinetEntries(c.bytes,
                                                                                        {"ROM.BIN", "ROM.SIG"});
            bool whole = entries && entries->found.count("ROM.BIN") && entries->found.at("ROM.BIN") == image;
            // A damaged cabinet either cannot be read, or (damage in a stored entry's bytes with no checksum
            // to catch it) never passes for the image.
            EXPECT_FALSE(whole) << c.what << (compressed ? " (MSZIP)" : " (stored)");
            WriteBytes(dir_ / "damaged.cab", c.bytes);
            zmrmc::RomImage rom = zmrmc::ReadRomImage((dir_ / "damaged.cab").c_str());
            EXPECT_NE(rom.image, image) << c.what;
        }
    }
}

TEST(CabinetReader, TwoEntriesOfOneNameAreRefused) {
    char pattern[] = "/tmp/qv-flash-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::path dir = pattern;
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    WriteBytes(dir / "a" / "ROM.BIN", Bytes(10, 1));
    WriteBytes(dir / "b" / "rom.bin", Bytes(10, 2));
    int code = WaitChild(StartChild({"/usr/bin/gcab", "--create", "--nopath", (dir / "two.cab").string(),
                                     (dir / "a" / "ROM.BIN").string(), (dir / "b" / "rom.bin").string()},
                                    dir / "out", dir / "err"),
                         std::chrono::seconds(60));
    ASSERT_EQ(code, 0);
    EXPECT_FALSE(zmrmc::ExtractCabinetEntries(ReadBytes(dir / "two.cab"), {"ROM.BIN"}).has_value());
    std::filesystem::remove_all(dir);
}

}  // namespace
