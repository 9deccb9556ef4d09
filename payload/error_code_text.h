// The short form in which users see an installation error code: "1:" and eight upper-case hex
// digits for a Windows error, "2:" and eight digits for a run-time library errno, the decimal
// value for the extractor's own codes, "7" for any other category.
#pragma once

#include <string>
#include <system_error>

namespace engine {

std::wstring error_code_text(const std::error_code& ec);

}  // namespace engine
