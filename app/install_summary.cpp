#include "app/install_summary.h"

#include <windows.h>
#include <shlwapi.h>

#include "app/install_app.h"
#include "localization/languages.h"
#include "nv/fixed_path.h"
#include "nv/product.h"

namespace {

constexpr wchar_t kLineBreak[] = L"\r\n";

// `path` in double quotes when it contains spaces, in the 260-character buffer of the shell.
std::wstring quoteSpaces(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  const std::wstring cut = nv::fixed_path::cut(path);
  cut.copy(buffer, cut.size());
  ::PathQuoteSpacesW(buffer);
  return buffer;
}

}  // namespace

std::vector<SummaryLine> installSummary(const CInstallApp& app) {
  std::vector<SummaryLine> lines;
  lines.push_back({formatLocalized(1100, {nv::product_label(false)}) + kLineBreak});
  lines.push_back({localizedString(1122), true});
  lines.push_back({formatLocalized(1123, {quoteSpaces(app.installFolder)}) + kLineBreak});
  if (app.createMenuShortcut)
    lines.push_back({formatLocalized(1124, {quoteSpaces(app.menuFolder)}) + kLineBreak});
  if (app.createDesktopShortcut) lines.push_back({localizedString(1125) + kLineBreak});
  return lines;
}
