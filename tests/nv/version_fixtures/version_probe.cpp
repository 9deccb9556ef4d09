// A fixture program: writes, as UTF-16 lines into the file named by its argument, the
// application identifier before and after its initialisation and its own version text.
#include <filesystem>
#include <fstream>
#include <string>

#include "nv/version_info.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  std::wstring report = nv::application_id() + L"\n";
  nv::initialize_application_id();
  report += nv::application_id() + L"\n";
  report += nv::version_info().version_text() + L"\n";

  std::ofstream out(std::filesystem::path(argv[1]), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(report.data()),
            static_cast<std::streamsize>(report.size() * sizeof(wchar_t)));
  return out.good() ? 0 : 3;
}
