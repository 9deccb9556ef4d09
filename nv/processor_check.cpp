#include "nv/processor_check.h"

#include <utility>

#include "nv/command_line.h"

namespace nv {

bool processor_supported = false;

const wchar_t* const processor_unsupported_text =
    L"This Version is not compatible with your Configuration.\n\n"
    L"Cette version n'est pas compatible avec votre configuration.\n\n"
    L"Diese Version ist nicht mit Ihrer Konfiguration kompatibel.";

namespace {

constexpr DWORD kSse2Feature = 10;  // PF_XMMI64_INSTRUCTIONS_AVAILABLE

processor_check_ops& ops_slot() {
  static processor_check_ops ops;
  return ops;
}

}  // namespace

processor_check_ops set_processor_check_ops(processor_check_ops ops) {
  return std::exchange(ops_slot(), std::move(ops));
}

void check_processor() {
  const processor_check_ops& ops = ops_slot();
  const bool sse2 = ops.has_sse2 ? ops.has_sse2() : ::IsProcessorFeaturePresent(kSse2Feature) != FALSE;
  if (sse2) {
    processor_supported = true;
    return;
  }
  // An unattended run is told by its exit code alone: nobody is there to close a box.
  const std::wstring text = processor_unsupported_text;
  if (!unattended_run()) {
    if (ops.show)
      ops.show(text, MB_ICONERROR);
    else
      ::MessageBoxW(nullptr, text.c_str(), nullptr, MB_ICONERROR);
  }
  if (ops.exit) {
    ops.exit(1);
  } else {
    ::ExitProcess(1);
  }
}

}  // namespace nv
