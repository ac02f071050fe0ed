// qv::com::Object: QueryInterface over the named interfaces and their bases, counting, final release.

#include "qv_com_object.h"

#include <gtest/gtest.h>

namespace {

// Names two interfaces, one with a base (IStream : ISequentialStream); the members are never called.
class Probe final : public qv::com::Object<IStream, IMarshal> {
public:
    explicit Probe(int* destroyed) : destroyed_(destroyed) {}
    ~Probe() override { ++*destroyed_; }

    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP SetSize(ULARGE_INTEGER) override { return E_NOTIMPL; }
    STDMETHODIMP CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Revert() override { return E_NOTIMPL; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Stat(STATSTG*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP Clone(IStream**) override { return E_NOTIMPL; }
    STDMETHODIMP GetUnmarshalClass(REFIID, void*, DWORD, void*, DWORD, CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMarshalSizeMax(REFIID, void*, DWORD, void*, DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP MarshalInterface(IStream*, REFIID, void*, DWORD, void*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP UnmarshalInterface(IStream*, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP ReleaseMarshalData(IStream*) override { return E_NOTIMPL; }
    STDMETHODIMP DisconnectObject(DWORD) override { return E_NOTIMPL; }

private:
    int* destroyed_;
};

class StaticFactory final : public qv::com::UncountedObject<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void** object) override { return *object = nullptr, E_NOTIMPL; }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

TEST(ComObject, AnswersNamedInterfacesTheirBasesAndOneIUnknown) {
    int destroyed = 0;
    auto* probe = new Probe(&destroyed);
    IStream* stream = probe;
    IMarshal* marshal = probe;

    struct Case {
        const IID* iid;
        void* expected;
    } cases[] = {{&IID_IUnknown, static_cast<IUnknown*>(stream)},
                 {&IID_IStream, stream},
                 {&IID_ISequentialStream, static_cast<ISequentialStream*>(stream)},
                 {&IID_IMarshal, marshal}};
    for (const Case& c : cases) {
        // Asked through either interface, the answer is the same pointer (COM identity).
        for (IUnknown* asked : {static_cast<IUnknown*>(stream), static_cast<IUnknown*>(marshal)}) {
            void* out = nullptr;
            ASSERT_EQ(asked->QueryInterface(*c.iid, &out), S_OK);
            EXPECT_EQ(out, c.expected);
            EXPECT_EQ(static_cast<IUnknown*>(out)->Release(), 1u);  // the QueryInterface took a reference
        }
    }

    void* out = probe;
    EXPECT_EQ(stream->QueryInterface(IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(stream->QueryInterface(IID_IStream, nullptr), E_POINTER);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(stream->Release(), 0u);
}

TEST(ComObject, CountsFromOneAndDeletesOnceAtTheLastRelease) {
    int destroyed = 0;
    IStream* stream = new Probe(&destroyed);
    EXPECT_EQ(stream->AddRef(), 2u);
    IMarshal* marshal = nullptr;
    ASSERT_EQ(stream->QueryInterface(IID_IMarshal, reinterpret_cast<void**>(&marshal)), S_OK);
    EXPECT_EQ(marshal->Release(), 2u);  // one count for the object, whichever interface is released
    EXPECT_EQ(stream->Release(), 1u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(stream->Release(), 0u);
    EXPECT_EQ(destroyed, 1);
}

TEST(ComObject, UncountedObjectOutlivesAnyReleases) {
    StaticFactory factory;
    IClassFactory* answered = nullptr;
    ASSERT_EQ(factory.QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&answered)), S_OK);
    EXPECT_EQ(answered, static_cast<IClassFactory*>(&factory));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(answered->Release(), 1u);
    EXPECT_EQ(factory.AddRef(), 2u);
    EXPECT_EQ(factory.LockServer(TRUE), S_OK);  // still alive and callable
}

}  // namespace
