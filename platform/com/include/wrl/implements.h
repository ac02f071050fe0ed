// Microsoft::WRL::Make: a new COM object held by a ComPtr that owns its first reference.
//
//   ComPtr<FakeSink> sink = Make<FakeSink>();
//
// For classes whose objects are born with one reference (qv::com::Object, the platform's implementation base).
#pragma once

#include "wrl/client.h"

#include <utility>

namespace Microsoft::WRL {

template <typename T, typename... Arguments>
ComPtr<T> Make(Arguments&&... arguments) {
    ComPtr<T> made;
    made.Attach(new T(std::forward<Arguments>(arguments)...));
    return made;
}

}  // namespace Microsoft::WRL
