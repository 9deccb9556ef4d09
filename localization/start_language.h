// The language a program of the product starts in: the user's default language or the one the
// product was installed in ("NvLanguage" under its uninstall key), and English for a language the
// programs have no translation for. The installer and the uninstaller start the same way.
#pragma once

#include <windows.h>

#include <optional>

#include "localization/languages.h"

// The "NvLanguage" value under the product's uninstall key in HKEY_LOCAL_MACHINE (4 bytes, its
// registry type ignored); nothing when it cannot be read.
std::optional<DWORD> readStoredLanguage();

// The language to start in: `systemDefault`, replaced by `stored` when that is a product
// language, then English when the result has no installer translation.
LanguageId chooseStartLanguage(LanguageId systemDefault, std::optional<DWORD> stored);
