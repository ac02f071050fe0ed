// The object codec: every stored object survives a round trip; damaged bytes are refused.
#include "wbem_test_support.h"

namespace qv::wbem {
namespace {

using namespace qv::wbem::testing;

class ObjectCodecTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        repo_ = Repository::Open(root_);
        ASSERT_TRUE(repo_);
        ASSERT_TRUE(Compile(*repo_, "common.mof").ok);
        ASSERT_TRUE(Compile(*repo_, "provider.mof").ok);
    }
    std::unique_ptr<Repository> repo_;
};

TEST_F(ObjectCodecTest, ClassesAndInstancesRoundTrip) {
    std::vector<CimObject> objects;
    ASSERT_EQ(repo_->EnumClasses(L"root\\QVTest\\Settings", L"", 0, &objects), S_OK);
    std::vector<CimObject> instances;
    ASSERT_EQ(repo_->EnumInstances(L"root\\QVTest\\Settings", L"QVT_Sample", 0, &instances), S_OK);
    objects.insert(objects.end(), instances.begin(), instances.end());
    ASSERT_GT(objects.size(), 20u);
    for (const CimObject& o : objects) {
        std::vector<uint8_t> bytes = EncodeObject(o);
        CimObject back;
        ASSERT_EQ(DecodeObject(bytes.data(), bytes.size(), &back), S_OK);
        EXPECT_TRUE(back == o) << qv::win::ToUtf8(o.className);
        EXPECT_EQ(back.nameSpace, o.nameSpace);
        EXPECT_EQ(EncodeObject(back), bytes);
    }
}

TEST_F(ObjectCodecTest, TruncatedOrDamagedBytesAreRefused) {
    std::vector<CimObject> instances;
    ASSERT_EQ(repo_->EnumInstances(L"root\\QVTest\\Settings", L"QVT_Sample", 0, &instances), S_OK);
    std::vector<uint8_t> bytes = EncodeObject(instances[0]);
    CimObject out;
    out.className = L"untouched";
    for (size_t n = 0; n < bytes.size(); ++n)
        ASSERT_EQ(DecodeObject(bytes.data(), n, &out), WBEM_E_INVALID_STREAM) << "prefix " << n;
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    EXPECT_EQ(DecodeObject(longer.data(), longer.size(), &out), WBEM_E_INVALID_STREAM);
    std::vector<uint8_t> badMagic = bytes;
    badMagic[0] = 'X';
    EXPECT_EQ(DecodeObject(badMagic.data(), badMagic.size(), &out), WBEM_E_INVALID_STREAM);
    std::vector<uint8_t> badGenus = bytes;
    badGenus[5] = 7;
    EXPECT_EQ(DecodeObject(badGenus.data(), badGenus.size(), &out), WBEM_E_INVALID_STREAM);
    // A huge string length must not allocate or read past the end.
    std::vector<uint8_t> hugeLength = bytes;
    hugeLength[6] = hugeLength[7] = hugeLength[8] = 0xFF;
    EXPECT_EQ(DecodeObject(hugeLength.data(), hugeLength.size(), &out), WBEM_E_INVALID_STREAM);
    EXPECT_EQ(out.className, L"untouched");
    // Flipping any single byte either still decodes to a well-formed object or is refused, never crashes.
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::vector<uint8_t> flipped = bytes;
        flipped[i] ^= 0x5A;
        CimObject o;
        HRESULT hr = DecodeObject(flipped.data(), flipped.size(), &o);
        EXPECT_TRUE(hr == S_OK || hr == WBEM_E_INVALID_STREAM);
        if (hr == S_OK) {
            Microsoft::WRL::ComPtr<IWbemClassObject> object;
            object.Attach(CreateClassObject(o));
            CComBSTR text;
            EXPECT_EQ(object->GetObjectText(0, &text), S_OK);
        }
    }
}

}  // namespace
}  // namespace qv::wbem
