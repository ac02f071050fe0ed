// Threads of the COM runtime: connection readers, workers serving calls into the multithreaded apartment,
// and the listener of a server.
//
// In a program they run until they end by themselves or the process exits. A shared library that links its
// own copy of the runtime (the BIOS access library) must not leave any of them running when it is unloaded,
// as they would run unmapped code: at unload the listener stops, every connection closes (which ends its
// reader, fails its waiting calls and releases what the peer held), and every runtime thread is joined.
#pragma once

#include <functional>

namespace qv::com {

// Runs `body` on a new runtime thread; false when no thread could be started (`body` is then dropped).
bool StartRuntimeThread(std::function<void()> body);
// Runs `task` on an idle worker of the multithreaded apartment, or on a new one (workers idle for 2 s end);
// false when neither is available (`task` is then dropped).
bool RunOnWorker(std::function<void()> task);

// --- what unloading stops (implemented by their owners) --------------------------------------------------
// Closes the listening socket, so that its accept loop returns.
void StopListening();
// Closes every live connection of this copy of the runtime.
void CloseAllConnections();

}  // namespace qv::com
