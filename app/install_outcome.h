// The texts that name how an installation ended, formatted when used: the window shows them in
// the run's language, the /LOG file in English.
#pragma once

#include <string>

#include "localization/languages.h"

// "Installation failed (Error Code `errorCode`)."
LocalText InstallFailedText(std::wstring errorCode);
// "Installation complete."
LocalText InstallCompleteText();
