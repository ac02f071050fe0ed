// GUID text, streams, message queues, message decoding, and malformed messages sent to a live server.

#include "com_fixture.h"
#include "connection.h"
#include "interfaces.h"
#include "marshal.h"
#include "oaidl.h"
#include "ole2.h"
#include "qv_com_runtime.h"
#include "runtime.h"
#include "wire.h"
#include "windows.h"
#include "winuser.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>

namespace {

TEST(GuidText, RoundTripsAndRefusesMalformed) {
    wchar_t text[39];
    const GUID g = {0xD7B353ED, 0xCF58, 0x4BAF, {0x80, 0x7B, 0x6E, 0xA0, 0x13, 0x60, 0xD5, 0x1F}};
    ASSERT_EQ(StringFromGUID2(g, text, 39), 39);
    EXPECT_STREQ(text, L"{D7B353ED-CF58-4BAF-807B-6EA01360D51F}");
    EXPECT_EQ(StringFromGUID2(g, text, 38), 0);
    CLSID back{};
    ASSERT_EQ(CLSIDFromString(L"{d7b353ed-cf58-4baf-807b-6ea01360d51f}", &back), S_OK);
    EXPECT_EQ(back, g);
    for (const wchar_t* bad : {L"{D7B353ED-CF58-4BAF-807B-6EA01360D51}", L"{D7B353ED-CF58-4BAF-807B-6EA01360D51G}",
                               L"{D7B353EDXCF58-4BAF-807B-6EA01360D51F}"})
        EXPECT_EQ(CLSIDFromString(bad, &back), CO_E_CLASSSTRING) << bad;
}

TEST(MemoryStream, WritesSeeksAndReads) {
    Microsoft::WRL::ComPtr<IStream> stream;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.GetAddressOf()), S_OK);
    ULONG done = 0;
    ASSERT_EQ(stream->Write("abcdef", 6, &done), S_OK);
    LARGE_INTEGER to{};
    to.QuadPart = 2;
    ASSERT_EQ(stream->Seek(to, STREAM_SEEK_SET, nullptr), S_OK);
    char buffer[8] = {};
    EXPECT_EQ(stream->Read(buffer, 8, &done), S_FALSE);  // short read at the end
    EXPECT_EQ(done, 4u);
    EXPECT_STREQ(buffer, "cdef");
    to.QuadPart = -10;
    EXPECT_EQ(stream->Seek(to, STREAM_SEEK_CUR, nullptr), STG_E_INVALIDFUNCTION);
}

TEST(MessageQueue, PostGetAndQuit) {
    DWORD self = GetCurrentThreadId();
    MSG msg;
    EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE));  // creates the queue
    std::thread([self] {
        PostThreadMessageW(self, WM_USER + 1, 7, 8);
        PostThreadMessageW(self, WM_QUIT, 3, 0);
    }).join();
    ASSERT_TRUE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(msg.wParam, 7u);
    EXPECT_FALSE(GetMessageW(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    std::thread([] { EXPECT_FALSE(PostThreadMessageW(GetCurrentThreadId() + 100000, WM_USER, 0, 0)); }).join();
}

TEST(WireFormat, HeaderChecks) {
    qv::com::wire::Header h;
    h.kind = qv::com::wire::Kind::kReply;
    h.body_size = 12;
    h.call_id = 99;
    uint8_t bytes[qv::com::wire::kHeaderSize];
    qv::com::wire::EncodeHeader(h, bytes);
    qv::com::wire::Header back;
    ASSERT_TRUE(qv::com::wire::DecodeHeader(bytes, sizeof(bytes), &back));
    EXPECT_EQ(back.call_id, 99u);
    EXPECT_FALSE(qv::com::wire::DecodeHeader(bytes, sizeof(bytes) - 1, &back));  // truncated
    bytes[4] = 9;
    EXPECT_FALSE(qv::com::wire::DecodeHeader(bytes, sizeof(bytes), &back));  // unknown kind
    bytes[4] = 1;
    uint32_t huge = qv::com::wire::kMaxBody + 1;
    std::memcpy(bytes + 8, &huge, 4);
    EXPECT_FALSE(qv::com::wire::DecodeHeader(bytes, sizeof(bytes), &back));  // body too large
}

// Argument lists that lie about their content are refused, never read past their end.
TEST(WireFormat, MalformedArgumentsRefused) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    auto connection = qv::com::Connection::Start(-1, false);
    const auto* dispatch = qv::com::FindInterface(IID_IDispatch);
    ASSERT_NE(dispatch, nullptr);
    const auto& invoke = dispatch->methods[3];
    auto decode = [&](const std::vector<uint8_t>& body) {
        qv::com::CallFrame frame(invoke);
        qv::com::wire::Reader r(body.data(), body.size());
        return frame.DecodeArguments(*connection, r);
    };
    qv::com::wire::Writer good;
    good.U32(1);
    good.Guid(IID_NULL);
    good.U32(0);
    good.U32(1);
    good.U8(1);  // DISPPARAMS present
    good.U32(1);
    good.U16(VT_BSTR);
    good.String(L"x");
    good.U32(0);
    good.U8(1);
    good.U8(0);
    good.U8(0);
    EXPECT_EQ(decode(good.bytes()), S_OK);
    for (size_t cut = 0; cut < good.bytes().size(); ++cut) {
        std::vector<uint8_t> truncated(good.bytes().begin(), good.bytes().begin() + static_cast<long>(cut));
        EXPECT_EQ(decode(truncated), RPC_E_INVALID_DATAPACKET) << cut;
    }
    auto trailing = good.bytes();
    trailing.push_back(0);
    EXPECT_EQ(decode(trailing), RPC_E_INVALID_DATAPACKET);
    auto lying = good.bytes();
    lying[29] = 0xFF;  // argument count far beyond the message
    EXPECT_EQ(decode(lying), RPC_E_INVALID_DATAPACKET);
    CoUninitialize();
}

using MalformedMessageTest = ComServerTest;

// Raw bytes straight to a live server: garbage closes that connection only; a call to an unknown object or
// with a broken body gets an error reply.
TEST_F(MalformedMessageTest, ServerAnswersOrDisconnects) {
    Microsoft::WRL::ComPtr<IDispatch> object;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(object.GetAddressOf())),
              S_OK);
    std::ifstream running(qv::com::RunningFile(CLSID_QvTestServer));
    long pid = 0;
    std::string address;
    ASSERT_TRUE(running >> pid >> address);
    Track(static_cast<pid_t>(pid));

    auto connect_raw = [&] {
        int s = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, address.data(), address.size());
        EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
        return s;
    };
    auto read_reply = [](int s, qv::com::wire::Header* h) {
        uint8_t head[qv::com::wire::kHeaderSize];
        size_t got = 0;
        while (got < sizeof(head)) {
            pollfd p{s, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) return false;
            ssize_t n = recv(s, head + got, sizeof(head) - got, 0);
            if (n <= 0) return false;
            got += static_cast<size_t>(n);
        }
        return qv::com::wire::DecodeHeader(head, sizeof(head), h);
    };
    auto send_call = [](int s, uint64_t object_id, const std::vector<uint8_t>& body) {
        qv::com::wire::Header h;
        h.kind = qv::com::wire::Kind::kCall;
        h.method = 3;
        h.call_id = 1;
        h.object_id = object_id;
        h.body_size = static_cast<uint32_t>(body.size());
        uint8_t head[qv::com::wire::kHeaderSize];
        qv::com::wire::EncodeHeader(h, head);
        send(s, head, sizeof(head), MSG_NOSIGNAL);
        send(s, body.data(), body.size(), MSG_NOSIGNAL);
    };

    int garbage = connect_raw();
    std::vector<uint8_t> junk(64, 0x5A);
    send(garbage, junk.data(), junk.size(), MSG_NOSIGNAL);
    qv::com::wire::Header reply;
    EXPECT_FALSE(read_reply(garbage, &reply));  // the server hung up
    close(garbage);

    int s = connect_raw();
    qv::com::wire::Writer body;
    body.Guid(IID_IDispatch);
    send_call(s, 12345, body.bytes());
    ASSERT_TRUE(read_reply(s, &reply));
    EXPECT_EQ(static_cast<HRESULT>(reply.method), RPC_E_DISCONNECTED);
    send_call(s, 0, {1, 2, 3});  // activation request cut short
    ASSERT_TRUE(read_reply(s, &reply));
    EXPECT_EQ(static_cast<HRESULT>(reply.method), RPC_E_INVALID_DATAPACKET);
    close(s);

    // Another user cannot reach the server at all (checked when the test runs as root and can switch user).
    if (geteuid() == 0) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
            int other = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un a{};
            a.sun_family = AF_UNIX;
            std::memcpy(a.sun_path, address.data(), address.size());
            if (connect(other, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) _exit(0);
            char byte;
            pollfd p{other, POLLIN, 0};
            _exit(poll(&p, 1, 10000) == 1 && recv(other, &byte, 1, 0) == 0 ? 0 : 1);  // dropped at once
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }

    // The real client is unaffected.
    DISPPARAMS none{};
    CComVariant r;
    EXPECT_EQ(object->Invoke(kDispServerPid, IID_NULL, 0, DISPATCH_METHOD, &none, &r, nullptr, nullptr), S_OK);
    EXPECT_EQ(r.lVal, pid);
}

}  // namespace

namespace {

TEST(Apartments, CountedPerThreadAndModel) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(OleInitialize(nullptr), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        OleUninitialize();
        CoUninitialize();
        IUnknown* object = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&object)),
                  CO_E_NOTINITIALIZED);
    }).join();
}

TEST(Security, OncePerProcessAndFailsOnRequest) {
    setenv("QV_COM_FAIL_SECURITY", "1", 1);
    EXPECT_EQ(
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IDENTIFY,
                             nullptr, EOAC_DYNAMIC_CLOAKING | EOAC_SECURE_REFS, nullptr),
        RPC_E_NO_GOOD_SECURITY_PACKAGES);
    unsetenv("QV_COM_FAIL_SECURITY");
    HRESULT first = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr);
    EXPECT_TRUE(first == S_OK || first == RPC_E_TOO_LATE);
    EXPECT_EQ(CoInitializeSecurity(nullptr, -1, nullptr, nullptr, 0, 0, nullptr, 0, nullptr), RPC_E_TOO_LATE);
    EXPECT_EQ(CoRevertToSelf(), RPC_E_CALL_COMPLETE);
    EXPECT_EQ(qv::com::ThreadIdentity(), geteuid());
}

}  // namespace
