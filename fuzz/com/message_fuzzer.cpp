// Feeds arbitrary bytes to the decoders a server runs on every incoming message: the header, the argument
// list of any remoted method (two leading bytes pick the interface and method), and VARIANTs, which are
// also written back and read again to check the round trip.

#include "connection.h"
#include "interfaces.h"
#include "marshal.h"
#include "objbase.h"
#include "oaidl.h"
#include "wbemcli.h"
#include "wbemprov.h"
#include "wire.h"

#include <cstdlib>
#include <cstring>

namespace {

const GUID* const kInterfaces[] = {&IID_IClassFactory,     &IID_IDispatch,       &IID_IWbemProviderInitSink,
                                   &IID_IWbemProviderInit, &IID_IWbemObjectSink, &IID_IEnumWbemClassObject,
                                   &IID_IWbemCallResult,   &IID_IWbemLocator,    &IID_IWbemServices};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool initialised = [] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        return true;
    }();
    (void)initialised;
    // A connection whose peer is gone: proxies made while decoding work, their releases go nowhere.
    static auto connection = qv::com::Connection::Start(-1, false);

    qv::com::wire::Header header;
    qv::com::wire::DecodeHeader(data, size, &header);
    if (size < 2) return 0;

    const auto* spec = qv::com::FindInterface(*kInterfaces[data[0] % (sizeof(kInterfaces) / sizeof(kInterfaces[0]))]);
    if (spec == nullptr || spec->methods.empty()) std::abort();
    const auto& method = spec->methods[data[1] % spec->methods.size()];
    {
        qv::com::CallFrame frame(method);
        qv::com::wire::Reader reader(data + 2, size - 2);
        if (SUCCEEDED(frame.DecodeArguments(*connection, reader))) {
            qv::com::wire::Writer out;
            frame.EncodeResults(*connection, out);
        }
    }

    qv::com::wire::Reader reader(data + 2, size - 2);
    VARIANT v;
    if (SUCCEEDED(qv::com::ReadVariant(*connection, reader, &v))) {
        qv::com::wire::Writer first;
        if (SUCCEEDED(qv::com::WriteVariant(*connection, first, v))) {
            qv::com::wire::Reader again(first.bytes().data(), first.bytes().size());
            VARIANT copy;
            if (FAILED(qv::com::ReadVariant(*connection, again, &copy)) || again.remaining() != 0) std::abort();
            qv::com::wire::Writer second;
            if (FAILED(qv::com::WriteVariant(*connection, second, copy))) std::abort();
            // Interface references are renumbered on every write; everything else must come back the same.
            bool has_objects = (v.vt & VT_TYPEMASK) == VT_UNKNOWN || (v.vt & VT_TYPEMASK) == VT_DISPATCH ||
                               (v.vt & VT_TYPEMASK) == VT_VARIANT;
            if (!has_objects && first.bytes() != second.bytes()) std::abort();
            VariantClear(&copy);
        }
        VariantClear(&v);
    }
    return 0;
}
