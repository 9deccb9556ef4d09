#include "localization/languages.h"

#include <clocale>
#include <locale>
#include <stdexcept>
#include <utility>
#include <vector>

#include "nv/fatal_error.h"
#include "nv/product.h"

namespace {

constexpr std::array<LanguageInfo, Languages::Count> kLanguages{{
    // LANGID, offset, flag, product, UI, list position, default for primary language, code
    {1036, 0, 144, true, true, 1, 0x0C, L"fr"},       // French
    {1033, 1000, 145, true, true, 2, 0x09, L"en"},    // English
    {1031, 2000, 141, true, true, 3, 0x07, L"de"},    // German
    {3082, 3000, 143, true, true, 4, 0x0A, L"es"},    // Spanish (modern sort)
    {2070, 4000, 148, true, true, 6, 0x16, L"pt"},    // Portuguese (Portugal)
    {1043, 6000, 147, true, false, 7, 0x13, L"nl"},   // Dutch
    {1030, 7000, 142, false, false, 0, 0x06, L"da"},  // Danish
    {1055, 8000, 149, true, true, 10, 0x1F, L"tr"},   // Turkish
    {1026, 10000, 150, false, false, 0, 0x02, L"bg"}, // Bulgarian
    {1048, 11000, 151, true, true, 11, 0x18, L"ro"},  // Romanian
    {2052, 9000, 152, true, false, 13, 0x04, L"zh"},  // Chinese (Simplified); sub-lang. 2, 4
    {1040, 5000, 146, true, true, 5, 0x10, L"it"},    // Italian
    {1029, 12000, 153, true, true, 12, 0x05, L"cs"},  // Czech
    {1044, 13000, 154, false, false, 0, 0x14, L"nb"}, // Norwegian (Bokmål)
    {1032, 14000, 155, true, false, 9, 0x08, L"el"},  // Greek
    {1045, 15000, 156, true, false, 8, 0x15, L"pl"},  // Polish
    {1037, 16000, 157, true, false, 14, 0x0D, L"he"}, // Hebrew
    {1066, 17000, 158, true, false, 15, 0x2A, L"vi"}, // Vietnamese
    {1041, 18000, 160, false, false, 0, 0x11, L"ja"}, // Japanese
    {1038, 19000, 161, true, true, 16, 0x0E, L"hu"},  // Hungarian
    {2074, 20000, 162, true, false, 17, 0x1A, L"sr"}, // Serbian (Latin)
}};

bool inTable(LanguageId language) { return language >= 0 && language < Languages::Count; }

const LanguageInfo& row(LanguageId language) {
  if (!inTable(language)) throw std::logic_error("logic error");
  return kLanguages[static_cast<std::size_t>(language)];
}

constexpr UINT kEnglishOffset = 1000;

// The text of string `id` exactly "#".
bool isUntranslated(UINT id) {
  const auto text = loadStringResource(id);
  return text && *text == L"#";
}

std::string narrow(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string result(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, result.data(), size, nullptr, nullptr);
  result.resize(static_cast<std::size_t>(size - 1));
  return result;
}

// Looks string `id` up in one module: block id / 16 + 1, entry id % 16 of the block, each
// entry a length followed by that many UTF-16 units.
std::optional<std::wstring> stringFromModule(HMODULE module, UINT id) {
  HRSRC info = ::FindResourceW(module, MAKEINTRESOURCEW(id / 16 + 1), MAKEINTRESOURCEW(6));
  if (!info) return std::nullopt;
  HGLOBAL handle = ::LoadResource(module, info);
  const DWORD bytes = ::SizeofResource(module, info);
  const auto* data = handle ? static_cast<const WCHAR*>(::LockResource(handle)) : nullptr;
  if (!data) return std::nullopt;
  const WCHAR* const end = data + bytes / sizeof(WCHAR);
  const WCHAR* entry = data;
  for (UINT i = 0; i < id % 16; ++i) {
    if (entry >= end) return std::nullopt;
    entry += 1 + *entry;
  }
  if (entry >= end || *entry == 0 || entry + 1 + *entry > end) return std::nullopt;
  return std::wstring(entry + 1, *entry);
}

}  // namespace

const std::array<LanguageInfo, Languages::Count>& languageTable() { return kLanguages; }

LANGID languageLangId(LanguageId language) { return row(language).langId; }
UINT languageFlagIcon(LanguageId language) { return row(language).flagIcon; }
UINT languageStringOffset(LanguageId language) { return row(language).stringOffset; }

bool isProductLanguage(LanguageId language) {
  return inTable(language) && kLanguages[static_cast<std::size_t>(language)].productLanguage;
}

bool isInstallerUiLanguage(LanguageId language) {
  return inTable(language) && kLanguages[static_cast<std::size_t>(language)].installerUiLanguage;
}

LCID languageLcid(LanguageId language) {
  const LANGID langId = languageLangId(language);
  const LCID user = ::GetUserDefaultLCID();
  return LANGIDFROMLCID(user) == langId ? user : MAKELCID(langId, SORT_DEFAULT);
}

LanguageState& currentLanguage() {
  static LanguageState state = [] {
    LanguageState initial;
    initial.lcid = languageLcid(Languages::French);
    ::_configthreadlocale(_DISABLE_PER_THREAD_LOCALE);
    applyProcessLocale(Languages::French);
    // The thread locale is set once, here, and never follows later language changes.
    ::SetThreadLocale(initial.lcid);
    return initial;
  }();
  return state;
}

void setCurrentLanguage(LanguageId language) {
  static_cast<void>(row(language));  // rejects an identifier outside the table
  LanguageState& state = currentLanguage();
  if (language != state.language) applyProcessLocale(language);
  state.language = language;
  state.lcid = languageLcid(language);
  state.resourceModule = nullptr;
  state.rightToLeft = isRightToLeftLanguage(language);
}

LanguageId defaultLanguage(std::uint32_t mask) {
  return defaultLanguage(mask, ::GetUserDefaultLangID());
}

LanguageId defaultLanguage(std::uint32_t mask, LANGID userLangId) {
  if (mask == 0) mask = currentLanguage().defaultMask;
  const BYTE primary = static_cast<BYTE>(PRIMARYLANGID(userLangId));
  const WORD sub = SUBLANGID(userLangId);
  for (LanguageId language = 0; language < Languages::Count; ++language) {
    if (kLanguages[static_cast<std::size_t>(language)].defaultForPrimary != primary) continue;
    // Chinese: only the simplified script (People's Republic of China, Singapore).
    if (language == Languages::ChineseSimplified && sub != SUBLANG_CHINESE_SIMPLIFIED &&
        sub != SUBLANG_CHINESE_SINGAPORE)
      continue;
    if (mask & (1u << language)) return language;
  }
  return (mask & (1u << Languages::English)) ? Languages::English : Languages::French;
}

std::wstring languageDisplayName(LanguageId language) {
  WCHAR name[LOCALE_NAME_MAX_LENGTH] = {};
  if (::GetLocaleInfoW(languageLcid(language), LOCALE_SNATIVELANGNAME, name,
                       LOCALE_NAME_MAX_LENGTH) == 0)
    return {};
  if (name[0] != 0) {
    const DWORD first = static_cast<DWORD>(::CharNextW(name) - name);
    ::CharUpperBuffW(name, first);
  }
  return name;
}

bool isRightToLeftLanguage(LanguageId language) {
  LOCALESIGNATURE signature{};
  static_assert(sizeof(signature) == 16 * sizeof(WCHAR));
  if (::GetLocaleInfoW(languageLangId(language), LOCALE_FONTSIGNATURE,
                       reinterpret_cast<LPWSTR>(&signature), 16) == 0)
    return language == Languages::Hebrew;
  // Bit 123 of the Unicode subset field: right-to-left layout.
  return (signature.lsUsb[3] & (1u << 27)) != 0;
}

void applyProcessLocale(LanguageId language) {
  const LCID lcid = languageLcid(language);
  const LCID nameOf = PRIMARYLANGID(LANGIDFROMLCID(lcid)) == PRIMARYLANGID(::GetUserDefaultLangID())
                          ? LOCALE_USER_DEFAULT
                          : lcid;
  // An empty name selects the user's default locale below.
  WCHAR wideName[LOCALE_NAME_MAX_LENGTH] = {};
  std::string name;
  if (::LCIDToLocaleName(nameOf, wideName, LOCALE_NAME_MAX_LENGTH, 0) != 0) name = narrow(wideName);

  // C++: collation, character types, money and time from the named locale; the library knows
  // few names, an unknown one gives the classic facets.
  std::locale named = std::locale::classic();
  try {
    named = std::locale(name.c_str());
  } catch (const std::exception&) {
  }
  std::locale::global(std::locale(std::locale(), named,
                                  std::locale::collate | std::locale::ctype |
                                      std::locale::monetary | std::locale::time));

  // C run time: everything classic, then the language's categories when the run time knows
  // the name (numbers keep the point as decimal separator).
  std::setlocale(LC_ALL, "C");
  for (int category : {LC_CTYPE, LC_COLLATE, LC_TIME, LC_MONETARY})
    std::setlocale(category, name.c_str());
}

std::optional<std::wstring> loadStringResource(UINT id) {
  HMODULE executable = ::GetModuleHandleW(nullptr);
  HMODULE module = currentLanguage().resourceModule;
  if (module && module != executable) {
    if (auto text = stringFromModule(module, id)) return text;
  }
  return stringFromModule(executable, id);
}

namespace {
// Set while inEnglish formats its text, for the thread that formats it only.
thread_local bool t_english = false;
}  // namespace

std::wstring inEnglish(const LocalText& text) {
  struct Restore {
    bool was = std::exchange(t_english, true);
    ~Restore() { t_english = was; }
  } restore;
  const nv::english_error_texts systemTexts;
  return text();
}

LanguageId textLanguage() { return t_english ? Languages::English : currentLanguage().language; }

UINT localizedId(UINT baseId) {
  LanguageId language = textLanguage();
  if (!isInstallerUiLanguage(language)) language = Languages::English;
  if (language == Languages::French) return baseId;
  const UINT id = baseId + languageStringOffset(language);
  if (!isUntranslated(id)) return id;
  if (language == Languages::English) return baseId;
  return isUntranslated(baseId + kEnglishOffset) ? baseId : baseId + kEnglishOffset;
}

std::wstring localizedString(UINT baseId) {
  return loadStringResource(localizedId(baseId)).value_or(std::wstring());
}

std::wstring formatMessage(std::wstring_view pattern,
                           std::initializer_list<std::wstring_view> inserts) {
  // Every insert a terminated string; inserts the pattern names beyond those given are empty,
  // so a translation with more insertion points than the caller knows cannot read past the end.
  constexpr std::size_t kMaxInserts = 99;
  std::vector<std::wstring> texts(inserts.begin(), inserts.end());
  texts.resize(kMaxInserts);
  std::vector<DWORD_PTR> arguments;
  arguments.reserve(kMaxInserts);
  for (const auto& text : texts) arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));

  const std::wstring source(pattern);
  LPWSTR buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      source.c_str(), 0, 0, reinterpret_cast<LPWSTR>(&buffer), 0,
      reinterpret_cast<va_list*>(arguments.data()));
  if (length == 0 || !buffer) {
    if (buffer) ::LocalFree(buffer);
    return {};
  }
  std::wstring result(buffer, length);
  ::LocalFree(buffer);
  return result;
}

std::wstring formatLocalized(UINT baseId, std::initializer_list<std::wstring_view> inserts) {
  return formatMessage(localizedString(baseId), inserts);
}

std::wstring applicationTitle(bool withProduct) { return programTitle(1000, withProduct); }

std::wstring programTitle(UINT nameId, bool withProduct) {
  std::wstring title = localizedString(nameId);
  if (withProduct) title += L" \u2013 " + nv::product_label(false);
  return title;
}
