// Start-up step 1: the installer needs the SSE2 instruction set.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace nv {

// False until check_processor has found SSE2.
extern bool processor_supported;

// The fixed English/French/German text shown when the processor lacks SSE2.
extern const wchar_t* const processor_unsupported_text;

// The platform operations check_processor uses; tests replace them to take the unsupported path
// without ending their process. Empty members mean the real system calls.
struct processor_check_ops {
  std::function<bool()> has_sse2;
  std::function<void(const std::wstring& text, UINT type)> show;
  std::function<void(UINT code)> exit;
};

// Replaces the operations (empty members restore the system's); returns the previous ones.
processor_check_ops set_processor_check_ops(processor_check_ops ops);

// Sets processor_supported when SSE2 is present; otherwise shows the fixed text with an error
// icon, no owner and the default caption (no box in an unattended run, /S), then ends the
// process with exit code 1.
void check_processor();

}  // namespace nv
