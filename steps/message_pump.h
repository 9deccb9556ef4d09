// Keeps the installer's windows painting and responding while a long operation runs on the
// user-interface thread: the operation calls PumpMessages now and then.
#pragma once

namespace engine {

// Dispatches every window message waiting for this thread, each first offered to the active
// modal dialog (keyboard navigation). A quit request ends the pump and is put back into the
// queue for the thread's own message loop.
void PumpMessages();

}  // namespace engine
