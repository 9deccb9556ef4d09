#include "payload/error_code_text.h"

#include <cstdio>

#include "payload/compress_error.h"

namespace engine {

std::wstring error_code_text(const std::error_code& ec) {
  wchar_t text[16];
  const auto& cat = ec.category();
  if (cat == std::system_category()) {
    std::swprintf(text, 16, L"1:%08X", static_cast<unsigned>(ec.value()));
  } else if (cat == std::generic_category()) {
    std::swprintf(text, 16, L"2:%08X", static_cast<unsigned>(ec.value()));
  } else if (cat == compress_category()) {
    std::swprintf(text, 16, L"%d", ec.value());
  } else {
    return L"7";
  }
  return text;
}

}  // namespace engine
