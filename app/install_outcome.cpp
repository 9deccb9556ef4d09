#include "app/install_outcome.h"

#include <utility>

namespace {
constexpr UINT kComplete = 1120;
constexpr UINT kFailed = 1121;
}  // namespace

LocalText InstallFailedText(std::wstring errorCode) {
  return [code = std::move(errorCode)] { return formatLocalized(kFailed, {code}); };
}

LocalText InstallCompleteText() {
  return [] { return localizedString(kComplete); };
}
