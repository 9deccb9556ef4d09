#include "localization/start_language.h"

#include <shlwapi.h>

#include <string>

#include "nv/product.h"

std::optional<DWORD> readStoredLanguage() {
  const std::wstring key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" +
                           nv::product_registry_name(nv::tessaline_7);
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::SHGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"NvLanguage", nullptr, &value, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return value;
}

LanguageId chooseStartLanguage(LanguageId systemDefault, std::optional<DWORD> stored) {
  LanguageId language = systemDefault;
  if (stored && *stored < static_cast<DWORD>(Languages::Count) &&
      isProductLanguage(static_cast<LanguageId>(*stored)))
    language = static_cast<LanguageId>(*stored);
  if (!isInstallerUiLanguage(language)) language = Languages::English;
  return language;
}
