// Languages of the installer and access to its localized strings.
//
// 21 languages are known. Seventeen are product languages (offered on the Start page, stored as
// the product's language); ten are installer UI languages, for which the installer's own messages
// are translated. Any other language runs the installer in English.
//
// A message has a base id in the French block (1000-1021, 1100-1148, 1150-1188, 1190-1198); the
// same message of language L has the id base + offset(L). An entry whose text is exactly "#" is
// untranslated: localizedId falls back to English, then to French.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

// Index 0..20 into the language table.
using LanguageId = std::int32_t;

namespace Languages {
inline constexpr LanguageId French = 0;
inline constexpr LanguageId English = 1;
inline constexpr LanguageId German = 2;
inline constexpr LanguageId Spanish = 3;
inline constexpr LanguageId Portuguese = 4;
inline constexpr LanguageId Dutch = 5;
inline constexpr LanguageId Danish = 6;
inline constexpr LanguageId Turkish = 7;
inline constexpr LanguageId Bulgarian = 8;
inline constexpr LanguageId Romanian = 9;
inline constexpr LanguageId ChineseSimplified = 10;
inline constexpr LanguageId Italian = 11;
inline constexpr LanguageId Czech = 12;
inline constexpr LanguageId Norwegian = 13;
inline constexpr LanguageId Greek = 14;
inline constexpr LanguageId Polish = 15;
inline constexpr LanguageId Hebrew = 16;
inline constexpr LanguageId Vietnamese = 17;
inline constexpr LanguageId Japanese = 18;
inline constexpr LanguageId Hungarian = 19;
inline constexpr LanguageId SerbianLatin = 20;
inline constexpr int Count = 21;
}  // namespace Languages

// One row of the language table.
struct LanguageInfo {
  LANGID langId;
  UINT stringOffset;       // added to a base id to find the message in this language
  UINT flagIcon;           // icon resource shown on the Start page
  bool productLanguage;
  bool installerUiLanguage;
  int listPosition;        // 1-based position in the Start page list, 0 when not offered
  BYTE defaultForPrimary;  // primary language id of the user language that selects it by default
  const wchar_t* code;     // two-letter ISO 639-1 code, as the command line's /LANG takes it
};

const std::array<LanguageInfo, Languages::Count>& languageTable();

// Bit L set for every product language L.
inline constexpr std::uint32_t productLanguageMask = 0x1BDEBF;

// The process-wide language record.
struct LanguageState {
  std::uint32_t defaultMask = 1;       // used by defaultLanguage when given no mask
  LanguageId language = Languages::French;
  LCID lcid = 0;
  HMODULE resourceModule = nullptr;    // searched before the executable; none = the executable
  bool rightToLeft = false;
  LanguageId selectedLanguage = Languages::French;  // recorded for the product ("NvLanguage")
};

// The record, created on first use: French current, run-time library locale process-wide,
// process locale and thread locale set for French.
LanguageState& currentLanguage();

// Makes `language` current (process locale first when it changes). Raises std::logic_error
// ("logic error") outside the table.
void setCurrentLanguage(LanguageId language);

// The language to start with for the user's default language, among the languages of `mask`
// (0: the state's defaultMask). The second form takes the user LANGID explicitly.
LanguageId defaultLanguage(std::uint32_t mask = 0);
LanguageId defaultLanguage(std::uint32_t mask, LANGID userLangId);

// Table columns. Raise std::logic_error ("logic error") outside 0..20.
LANGID languageLangId(LanguageId language);
UINT languageFlagIcon(LanguageId language);
UINT languageStringOffset(LanguageId language);

// The user's default LCID when its LANGID is the language's, else the language's LANGID with
// the default sort.
LCID languageLcid(LanguageId language);

// Native name with its first character in upper case ("Français"); empty when the system does
// not know the locale.
std::wstring languageDisplayName(LanguageId language);

// From the locale's font signature; when the system cannot tell, true for Hebrew only.
bool isRightToLeftLanguage(LanguageId language);

// Sets the C++ global locale and the C run-time locale for `language`: character types,
// collation, money and time follow the language, numbers stay classic. Names that the run-time
// libraries do not know leave those categories classic.
void applyProcessLocale(LanguageId language);

// False outside 0..20.
bool isProductLanguage(LanguageId language);
bool isInstallerUiLanguage(LanguageId language);

// The id to load for message `baseId` in the current language, after the "#" fallback.
UINT localizedId(UINT baseId);
// The text of localizedId(baseId).
std::wstring localizedString(UINT baseId);

// The raw text of string `id` from the current resource module or else the executable;
// nothing when the string table has no such entry.
std::optional<std::wstring> loadStringResource(UINT id);

// "%1", "%2"... of `pattern` replaced by the string inserts (FormatMessageW from a string).
std::wstring formatMessage(std::wstring_view pattern, std::initializer_list<std::wstring_view> inserts);
// The same with the localized text of `baseId` as pattern.
std::wstring formatLocalized(UINT baseId, std::initializer_list<std::wstring_view> inserts);

// A text formatted when it is used, in the language current then. The lines of the /LOG file
// that fleets parse are formatted once in the run's language, for the window, and once in
// English.
using LocalText = std::function<std::wstring()>;
// `text` formatted with English as this thread's language: its messages, and the system's
// error texts where the system has them in English, whatever language the run speaks.
std::wstring inEnglish(const LocalText& text);
// The language this thread's texts are formatted in: English within inEnglish, else the current
// language.
LanguageId textLanguage();

// String 1000, followed by " – " and the versioned product label when `withProduct`.
std::wstring applicationTitle(bool withProduct);
// The same with the program's name from message `nameId` (1000 the installer's, 1150 the
// uninstaller's).
std::wstring programTitle(UINT nameId, bool withProduct);
