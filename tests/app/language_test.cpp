#include "app/languages.h"

#include <windows.h>

#include <clocale>
#include <cstdio>
#include <locale>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace L = Languages;

bool running_under_wine() {
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Every base id of the French block.
std::vector<UINT> allBaseIds() {
  std::vector<UINT> ids;
  for (UINT id = 1000; id <= 1021; ++id) ids.push_back(id);
  for (UINT id = 1100; id <= 1132; ++id)
    if (id != 1116 && id != 1130) ids.push_back(id);
  return ids;
}

// The base ids the installer shows.
std::vector<UINT> usedBaseIds() {
  std::vector<UINT> ids;
  for (UINT id = 1000; id <= 1018; ++id) ids.push_back(id);
  for (UINT id : {1100u, 1101u, 1102u, 1103u, 1104u, 1105u, 1106u, 1107u, 1108u, 1110u, 1111u,
                  1112u, 1113u, 1114u, 1115u, 1117u, 1118u, 1119u, 1120u, 1121u, 1122u, 1123u,
                  1124u, 1125u, 1126u, 1127u, 1129u, 1131u})
    ids.push_back(id);
  return ids;
}

std::vector<LanguageId> uiLanguages() {
  std::vector<LanguageId> result;
  for (LanguageId language = 0; language < L::Count; ++language)
    if (isInstallerUiLanguage(language)) result.push_back(language);
  return result;
}

std::wstring raw(UINT id) { return loadStringResource(id).value_or(L"<missing>"); }

// Each test starts and ends with French current.
class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override { setCurrentLanguage(L::French); }
  void TearDown() override { setCurrentLanguage(L::French); }
};

// --- The table -------------------------------------------------------------------------------

TEST(LanguageTable, ColumnsAreConsistent) {
  std::uint32_t productMask = 0;
  std::set<UINT> icons, offsets;
  std::set<int> positions;
  for (LanguageId language = 0; language < L::Count; ++language) {
    const LanguageInfo& info = languageTable()[static_cast<std::size_t>(language)];
    if (isProductLanguage(language)) productMask |= 1u << language;
    // A product language is listed, any other is not.
    EXPECT_EQ(info.listPosition != 0, info.productLanguage) << language;
    if (info.listPosition != 0) positions.insert(info.listPosition);
    icons.insert(info.flagIcon);
    offsets.insert(info.stringOffset);
    EXPECT_EQ(info.stringOffset % 1000, 0u) << language;
    EXPECT_TRUE(!isInstallerUiLanguage(language) || isProductLanguage(language)) << language;
  }
  EXPECT_EQ(productMask, productLanguageMask);
  EXPECT_EQ(productMask, 0x1BDEBFu);
  // Positions 1..17, each once; icons 141..162 without 159; one block per language.
  EXPECT_EQ(positions.size(), 17u);
  EXPECT_EQ(*positions.begin(), 1);
  EXPECT_EQ(*positions.rbegin(), 17);
  EXPECT_EQ(icons.size(), 21u);
  EXPECT_EQ(*icons.begin(), 141u);
  EXPECT_EQ(*icons.rbegin(), 162u);
  EXPECT_EQ(icons.count(159u), 0u);
  EXPECT_EQ(offsets.size(), 21u);

  EXPECT_EQ(uiLanguages(), (std::vector<LanguageId>{0, 1, 2, 3, 4, 7, 9, 11, 12, 19}));
  EXPECT_FALSE(isProductLanguage(-1));
  EXPECT_FALSE(isProductLanguage(21));
  EXPECT_FALSE(isInstallerUiLanguage(21));
  EXPECT_THROW(languageLangId(21), std::logic_error);
  EXPECT_THROW(setCurrentLanguage(-1), std::logic_error);
}

// --- The string tables -----------------------------------------------------------------------

// Every block holds every base id, tagged with its language, and "#" stands exactly where the
// installer expects untranslated entries.
TEST(LanguageStrings, EveryBlockHoldsEveryIdInItsLanguage) {
  const std::vector<UINT> used = usedBaseIds();
  for (LanguageId language = 0; language < L::Count; ++language) {
    const UINT offset = languageStringOffset(language);
    for (UINT base : allBaseIds()) {
      const UINT id = base + offset;
      const auto text = loadStringResource(id);
      ASSERT_TRUE(text.has_value()) << "language " << language << " id " << id;
      EXPECT_FALSE(text->empty()) << id;
      // The block is tagged with the language's LANGID.
      HRSRC block = ::FindResourceExW(nullptr, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                                      languageLangId(language));
      EXPECT_NE(block, nullptr) << "language " << language << " id " << id;
    }
    if (!isInstallerUiLanguage(language)) continue;
    for (UINT base : used) {
      const bool expectHash =
          (base == 1131 && language != L::French && language != L::Czech &&
           language != L::Hungarian) ||
          (base == 1007 && language == L::Czech);
      EXPECT_EQ(raw(base + offset) == L"#", expectHash) << "language " << language << " base " << base;
    }
  }
  EXPECT_FALSE(loadStringResource(1116).has_value());
  EXPECT_FALSE(loadStringResource(2130).has_value());
}

// The characters that the resource compiler could get wrong: quotes, line breaks, no-break
// spaces, doubled blanks, accented capitals and letters outside Latin-1.
TEST(LanguageStrings, TextsSurviveTheResourceCompiler) {
  EXPECT_EQ(raw(2110), L"Installation is not complete.\r\n\r\nDo you still confirm exit Installation ?");
  EXPECT_EQ(raw(1110),
            L"L'installation n'est pas achev\u00e9e.\r\n\r\n\u00cates-vous certain de vouloir "
            L"quitter l'installeur ?");
  EXPECT_EQ(raw(1112), L"Cr\u00e9er un raccourci dans le menu suivant\u00a0:");
  EXPECT_EQ(raw(1123), L"Dossier d'installation\u00a0: %1.");
  EXPECT_EQ(raw(2115), L"Copying File  %1...");
  EXPECT_EQ(raw(2129),
            L"'%1' will be installed in the selected Langage, but the Installer, still under "
            L"translation,  shall run in English.");
  EXPECT_EQ(raw(1003), L"\u00c0 propos de '%1'");
  EXPECT_EQ(raw(1012), L"\u00c9chec");
  EXPECT_EQ(raw(1131), L"Mise \u00e0 jour de DirectX...");
  EXPECT_EQ(raw(2014), L"Select Installation Langage");

  // No block holds a character decoded from the wrong code page (sign-extended bytes, the
  // replacement character, C1 controls) or a stray "\x" sequence.
  for (LanguageId language : uiLanguages()) {
    for (UINT base : allBaseIds()) {
      const std::wstring text = raw(base + languageStringOffset(language));
      for (wchar_t c : text) {
        const bool control = c < 0x20 && c != L'\r' && c != L'\n';
        EXPECT_FALSE(c >= 0xFF00 || c == 0xFFFD || (c >= 0x80 && c < 0xA0) || control)
            << "language " << language << " base " << base << " char " << static_cast<int>(c);
      }
      EXPECT_EQ(text.find(L"\\x"), std::wstring::npos) << base;
    }
  }
}

// --- localizedId and its fallback ------------------------------------------------------------

TEST_F(LanguageTest, FallbackChains) {
  struct Case {
    LanguageId language;
    UINT base;
    UINT expected;
  };
  const Case cases[] = {
      {L::French, 1006, 1006},  {L::French, 1131, 1131},
      {L::English, 1006, 2006}, {L::English, 1131, 1131},  // English falls back to French
      {L::German, 1006, 3006},  {L::German, 1131, 1131},   // German: 3131 and 2131 are "#"
      {L::Spanish, 1131, 1131}, {L::Turkish, 1131, 1131},
      {L::Czech, 1006, 13006},  {L::Czech, 1007, 2007},    // Czech 1007 comes from English
      {L::Czech, 1131, 13131},  {L::Hungarian, 1131, 20131},
      {L::Italian, 1100, 6100}, {L::Romanian, 1100, 12100}, {L::Portuguese, 1100, 5100},
      {L::Dutch, 1006, 2006},   {L::Dutch, 1131, 1131},    // not a UI language: English
      {L::Japanese, 1007, 2007}, {L::Hebrew, 1100, 2100},
  };
  for (const Case& c : cases) {
    setCurrentLanguage(c.language);
    EXPECT_EQ(localizedId(c.base), c.expected) << "language " << c.language << " base " << c.base;
  }

  setCurrentLanguage(L::English);
  EXPECT_EQ(localizedString(1006), L"Next");
  EXPECT_EQ(localizedString(1131), L"Mise \u00e0 jour de DirectX...");
  setCurrentLanguage(L::Czech);
  EXPECT_EQ(localizedString(1007), L"Install");
  setCurrentLanguage(L::Dutch);
  EXPECT_EQ(localizedString(1002), L"Cancel");
}

// Walks every language the installer can show (and one it cannot) over every message it uses:
// the text is there, translated, and keeps the insertion points of the English text.
TEST_F(LanguageTest, EveryLanguageHasUsableTextForEveryMessage) {
  std::vector<LanguageId> languages = uiLanguages();
  languages.push_back(L::Dutch);
  languages.push_back(L::SerbianLatin);
  for (LanguageId language : languages) {
    setCurrentLanguage(language);
    for (UINT base : usedBaseIds()) {
      const std::wstring text = localizedString(base);
      std::wstring english = raw(base + 1000);
      if (english == L"#") english = raw(base);
      EXPECT_FALSE(text.empty()) << "language " << language << " base " << base;
      EXPECT_NE(text, L"#") << "language " << language << " base " << base;
      for (const wchar_t* insert : {L"%1", L"%2"}) {
        if (english.find(insert) != std::wstring::npos) {
          EXPECT_NE(text.find(insert), std::wstring::npos)
              << "language " << language << " base " << base << " lacks " << insert;
        }
      }
      // Anything not from the language's own block comes from English or French.
      const UINT id = localizedId(base);
      EXPECT_TRUE(id == base || id == base + 1000 ||
                  id == base + languageStringOffset(language))
          << "language " << language << " base " << base;
    }
  }
}

// --- Current language and default language ---------------------------------------------------

TEST_F(LanguageTest, StateFollowsTheCurrentLanguage) {
  LanguageState& state = currentLanguage();
  EXPECT_EQ(state.defaultMask, 1u);
  EXPECT_EQ(state.selectedLanguage, L::French);
  EXPECT_EQ(state.language, L::French);
  EXPECT_EQ(state.lcid, languageLcid(L::French));
  EXPECT_EQ(::GetThreadLocale(), languageLcid(L::French));

  state.resourceModule = ::GetModuleHandleW(L"kernel32.dll");
  setCurrentLanguage(L::Hebrew);
  EXPECT_EQ(state.language, L::Hebrew);
  EXPECT_EQ(state.lcid, languageLcid(L::Hebrew));
  EXPECT_EQ(LANGIDFROMLCID(state.lcid), 1037);
  EXPECT_EQ(state.resourceModule, nullptr);
  EXPECT_TRUE(state.rightToLeft);
  // The thread locale stays the one set at first use.
  EXPECT_EQ(::GetThreadLocale(), languageLcid(L::French));
  setCurrentLanguage(L::German);
  EXPECT_FALSE(state.rightToLeft);
  EXPECT_EQ(state.selectedLanguage, L::French);  // only start-up and the Start page set it
}

TEST_F(LanguageTest, DefaultLanguageFromTheUserLanguage) {
  struct Case {
    LANGID user;
    std::uint32_t mask;
    LanguageId expected;
  };
  const Case cases[] = {
      {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), productLanguageMask, L::French},
      {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN), productLanguageMask, L::French},
      {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), productLanguageMask, L::English},
      {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), productLanguageMask, L::English},
      {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), productLanguageMask, L::German},
      {MAKELANGID(LANG_HUNGARIAN, SUBLANG_DEFAULT), productLanguageMask, L::Hungarian},
      {MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_LATIN), productLanguageMask, L::SerbianLatin},
      {MAKELANGID(LANG_DUTCH, SUBLANG_DUTCH), productLanguageMask, L::Dutch},
      // Not product languages: English.
      {MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT), productLanguageMask, L::English},
      {MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), productLanguageMask, L::English},
      // Chinese: only the simplified sub-languages.
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), productLanguageMask, L::ChineseSimplified},
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE), productLanguageMask, L::ChineseSimplified},
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), productLanguageMask, L::English},
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_HONGKONG), productLanguageMask, L::English},
      // The mask limits the choice; without English in it, French.
      {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), 0x3, L::English},
      {MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT), 0x41, L::Danish},
      {MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), 0x4, L::French},
      // Mask 0: the state's default mask, French only.
      {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0, L::French},
      {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), 0, L::French},
  };
  for (const Case& c : cases)
    EXPECT_EQ(defaultLanguage(c.mask, c.user), c.expected)
        << "user " << c.user << " mask " << c.mask;
  EXPECT_EQ(defaultLanguage(productLanguageMask),
            defaultLanguage(productLanguageMask, ::GetUserDefaultLangID()));
  EXPECT_EQ(defaultLanguage(), L::French);
}

// --- Locale data -------------------------------------------------------------------------------

TEST(LanguageDirection, OnlyHebrewIsRightToLeft) {
  for (LanguageId language = 0; language < L::Count; ++language)
    EXPECT_EQ(isRightToLeftLanguage(language), language == L::Hebrew) << language;
}

TEST(LanguageDisplayName, NativeNamesStartWithACapital) {
  EXPECT_EQ(languageDisplayName(L::French), L"Fran\u00e7ais");
  EXPECT_EQ(languageDisplayName(L::German), L"Deutsch");
  EXPECT_EQ(languageDisplayName(L::English), L"English");
  EXPECT_EQ(languageDisplayName(L::Polish), L"Polski");  // "polski" in the locale data
  EXPECT_EQ(languageDisplayName(L::Hebrew), L"\u05e2\u05d1\u05e8\u05d9\u05ea");
}

TEST(LanguageDisplayName, SerbianLatin) {
  if (running_under_wine()) GTEST_SKIP() << "Wine has no locale data for LCID 2074 (0x081A)";
  EXPECT_EQ(languageDisplayName(L::SerbianLatin), L"Srpski");
}

// Whatever locale names the run-time libraries refuse, applying a language never throws and
// numbers keep the classic conventions.
TEST_F(LanguageTest, ApplyProcessLocaleSurvivesEveryLanguage) {
  // A locale the run time accepts, so that the reset to "C" is visible.
  const bool frenchAccepted = std::setlocale(LC_ALL, "French_France.1252") != nullptr;
  for (LanguageId language = 0; language < L::Count; ++language) {
    ASSERT_NO_THROW(applyProcessLocale(language)) << language;
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C") << language;
    EXPECT_STREQ(std::localeconv()->decimal_point, ".") << language;
    EXPECT_EQ(std::use_facet<std::numpunct<char>>(std::locale()).decimal_point(), '.') << language;
    char number[16];
    std::snprintf(number, sizeof number, "%.1f", 1.5);
    EXPECT_STREQ(number, "1.5") << language;
  }
  if (frenchAccepted) {
    std::setlocale(LC_ALL, "French_France.1252");
    applyProcessLocale(L::English);
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  }
}

// --- Insertions and title ----------------------------------------------------------------------

TEST_F(LanguageTest, InsertionPointsTakeStrings) {
  EXPECT_EQ(formatMessage(L"Update from '%1' to '%2'.", {L"7.08u", L"7.08v"}),
            L"Update from '7.08u' to '7.08v'.");
  EXPECT_EQ(formatMessage(L"%2 then %1, %1 again", {L"one", L"two"}), L"two then one, one again");
  // An insert is not expanded again.
  EXPECT_EQ(formatMessage(L"[%1]", {L"%2 50%"}), L"[%2 50%]");
  // Points the caller does not fill stay empty.
  EXPECT_EQ(formatMessage(L"a%1b%2c", {L"X"}), L"aXbc");
  // Line breaks of the message are kept as they are.
  EXPECT_EQ(formatMessage(L"one.\r\n\r\ntwo", {}), L"one.\r\n\r\ntwo");

  setCurrentLanguage(L::English);
  EXPECT_EQ(formatLocalized(1101, {L"Tessaline 7.08u", L"Tessaline 7.08v"}),
            L"Update from 'Tessaline 7.08u' to 'Tessaline 7.08v'.");
  EXPECT_EQ(formatLocalized(1106, {localizedString(1006)}), L"Click on 'Next' to continue.");
  EXPECT_EQ(formatLocalized(1110, {}), raw(2110));
  setCurrentLanguage(L::French);
  EXPECT_EQ(formatLocalized(1123, {L"C:\\Program Files\\Tessaline 7"}),
            L"Dossier d'installation\u00a0: C:\\Program Files\\Tessaline 7.");
}

TEST_F(LanguageTest, ApplicationTitle) {
  EXPECT_EQ(applicationTitle(false), L"Installeur");
  EXPECT_EQ(applicationTitle(true), L"Installeur \u2013 Tessaline 7.08v");
  setCurrentLanguage(L::English);
  EXPECT_EQ(applicationTitle(true), L"Installer \u2013 Tessaline 7.08v");
  setCurrentLanguage(L::Polish);  // shown in English
  EXPECT_EQ(applicationTitle(false), L"Installer");
}

}  // namespace
