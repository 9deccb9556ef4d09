#include "localization/languages.h"
#include "wine.h"

#include <windows.h>

#include <clocale>
#include <cstdio>
#include <locale>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace L = Languages;

using nv_testing::running_under_wine;

// Base ids of the French block: the installer's (1000-1021, 1100-1148), the uninstaller's
// (1150-1188) and both programs' folder rules (1190-1198); `usedOnly` leaves out those no
// program shows.
std::vector<UINT> baseIds(bool usedOnly) {
  std::vector<UINT> ids;
  for (UINT id = 1000; id <= 1198; ++id) {
    const bool unused = id == 1019 || id == 1020 || id == 1021 || id == 1109 || id == 1128 ||
                        id == 1132;
    const bool assigned = id <= 1021 || (id >= 1100 && id <= 1148) ||
                          (id >= 1150 && id <= 1188) || id >= 1190;
    if (assigned && id != 1116 && id != 1130 && !(usedOnly && unused)) ids.push_back(id);
  }
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

TEST(LanguageTable, ProductAndUiColumns) {
  std::uint32_t productMask = 0, listed = 0;
  for (LanguageId language = 0; language < L::Count; ++language) {
    const int position = languageTable()[static_cast<std::size_t>(language)].listPosition;
    if (isProductLanguage(language)) productMask |= 1u << language;
    if (position != 0) listed |= 1u << (position - 1);
  }
  EXPECT_EQ(productMask, productLanguageMask);
  EXPECT_EQ(listed, 0x1FFFFu);  // the 17 product languages at positions 1..17
  EXPECT_EQ(uiLanguages(), (std::vector<LanguageId>{0, 1, 2, 3, 4, 7, 9, 11, 12, 19}));
  EXPECT_FALSE(isProductLanguage(21));
  EXPECT_THROW(setCurrentLanguage(-1), std::logic_error);
}

// Every block holds every base id in a table tagged with its LANGID, and "#" stands exactly
// where the installer expects untranslated entries: throughout the blocks of the languages it
// cannot display.
TEST(LanguageStrings, EveryBlockHoldsEveryIdInItsLanguage) {
  for (LanguageId language = 0; language < L::Count; ++language) {
    const UINT offset = languageStringOffset(language);
    for (UINT base : baseIds(false)) {
      const UINT id = base + offset;
      EXPECT_FALSE(raw(id).empty() || raw(id) == L"<missing>") << "id " << id;
      EXPECT_NE(::FindResourceExW(nullptr, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(id / 16 + 1),
                                  languageLangId(language)),
                nullptr)
          << "id " << id;
      if (!isInstallerUiLanguage(language)) {
        EXPECT_EQ(raw(id), L"#") << "id " << id;
      }
    }
    if (!isInstallerUiLanguage(language)) continue;
    for (UINT base : baseIds(true)) {
      const bool untranslated = (base == 1131 && language != L::French && language != L::Czech &&
                                 language != L::Hungarian) ||
                                (base == 1007 && language == L::Czech);
      EXPECT_EQ(raw(base + offset) == L"#", untranslated) << "id " << base + offset;
    }
  }
  EXPECT_FALSE(loadStringResource(1116).has_value());
}

// What the resource compiler could get wrong: line breaks, no-break spaces, doubled blanks,
// accented capitals, and any text decoded from the wrong code page.
TEST(LanguageStrings, TextsSurviveTheResourceCompiler) {
  EXPECT_EQ(raw(2110), L"Installation is not complete.\r\n\r\nDo you still confirm exit Installation ?");
  EXPECT_EQ(raw(1110), L"L'installation n'est pas achev\u00e9e.\r\n\r\n\u00cates-vous certain de "
                       L"vouloir quitter l'installeur ?");
  EXPECT_EQ(raw(1112), L"Cr\u00e9er un raccourci dans le menu suivant\u00a0:");
  EXPECT_EQ(raw(1123), L"Dossier d'installation\u00a0: %1.");
  EXPECT_EQ(raw(2115), L"Copying File  %1...");
  EXPECT_EQ(raw(2156), L"Removing File  %1...");
  EXPECT_EQ(raw(1165), L"%1 est en cours d'utilisation\u00a0; il sera supprim\u00e9 au "
                       L"red\u00e9marrage de l'ordinateur.");
  EXPECT_EQ(raw(2129), L"'%1' will be installed in the selected Langage, but the Installer, still "
                       L"under translation,  shall run in English.");
  EXPECT_EQ(raw(1003), L"\u00c0 propos de '%1'");
  for (LanguageId language : uiLanguages()) {
    for (UINT base : baseIds(false)) {
      for (wchar_t c : raw(base + languageStringOffset(language))) {
        const bool control = c < 0x20 && c != L'\r' && c != L'\n';
        EXPECT_FALSE(c >= 0xFF00 || c == 0xFFFD || (c >= 0x80 && c < 0xA0) || c == L'\\' || control)
            << "language " << language << " base " << base << " char " << static_cast<int>(c);
      }
    }
  }
}

TEST_F(LanguageTest, FallbackChains) {
  const struct {
    LanguageId language;
    UINT base, expected;
  } cases[] = {
      {L::French, 1131, 1131},  {L::English, 1006, 2006},   {L::English, 1131, 1131},
      {L::German, 1006, 3006},  {L::German, 1131, 1131},    {L::Czech, 1006, 13006},
      {L::Czech, 1007, 2007},   {L::Czech, 1131, 13131},    {L::Hungarian, 1131, 20131},
      {L::Italian, 1100, 6100}, {L::Romanian, 1100, 12100}, {L::Dutch, 1006, 2006},
      {L::Dutch, 1131, 1131},   {L::Hebrew, 1100, 2100},
  };
  for (const auto& c : cases) {
    setCurrentLanguage(c.language);
    EXPECT_EQ(localizedId(c.base), c.expected) << "language " << c.language << " base " << c.base;
  }
  setCurrentLanguage(L::English);
  EXPECT_EQ(localizedString(1131), L"Mise \u00e0 jour de DirectX...");
  setCurrentLanguage(L::Czech);
  EXPECT_EQ(localizedString(1007), L"Install");
}

// Every language the installer shows (and two it cannot) over every message it uses: a text is
// there, it is not "#", and it keeps the insertion points of the English (else French) text.
TEST_F(LanguageTest, EveryLanguageHasUsableTextForEveryMessage) {
  std::vector<LanguageId> languages = uiLanguages();
  languages.insert(languages.end(), {L::Dutch, L::SerbianLatin});
  for (LanguageId language : languages) {
    setCurrentLanguage(language);
    for (UINT base : baseIds(true)) {
      const std::wstring text = localizedString(base);
      const std::wstring english = raw(base + 1000) == L"#" ? raw(base) : raw(base + 1000);
      EXPECT_FALSE(text.empty() || text == L"#") << "language " << language << " base " << base;
      for (const wchar_t* insert : {L"%1", L"%2", L"%3"}) {
        EXPECT_EQ(text.find(insert) == std::wstring::npos,
                  english.find(insert) == std::wstring::npos)
            << "language " << language << " base " << base << " " << insert;
      }
    }
  }
}

TEST_F(LanguageTest, StateFollowsTheCurrentLanguage) {
  LanguageState& state = currentLanguage();
  EXPECT_EQ(state.defaultMask, 1u);
  EXPECT_EQ(::GetThreadLocale(), languageLcid(L::French));
  state.resourceModule = ::GetModuleHandleW(L"kernel32.dll");
  setCurrentLanguage(L::Hebrew);
  EXPECT_EQ(LANGIDFROMLCID(state.lcid), 1037);
  EXPECT_EQ(state.resourceModule, nullptr);
  EXPECT_TRUE(state.rightToLeft);
  EXPECT_EQ(::GetThreadLocale(), languageLcid(L::French));  // set once, at first use
  setCurrentLanguage(L::German);
  EXPECT_FALSE(state.rightToLeft);
  EXPECT_EQ(state.selectedLanguage, L::French);
}

TEST_F(LanguageTest, DefaultLanguageFromTheUserLanguage) {
  const std::uint32_t all = productLanguageMask;
  const struct {
    LANGID user;
    std::uint32_t mask;
    LanguageId expected;
  } cases[] = {
      {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), all, L::French},
      {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK), all, L::English},
      {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), all, L::German},
      {MAKELANGID(LANG_SERBIAN, SUBLANG_SERBIAN_LATIN), all, L::SerbianLatin},
      {MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT), all, L::English},
      {MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), all, L::English},
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), all, L::ChineseSimplified},
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SINGAPORE), all, L::ChineseSimplified},
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), all, L::English},
      {MAKELANGID(LANG_DANISH, SUBLANG_DEFAULT), 0x41, L::Danish},
      {MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), 0x4, L::French},
      {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), 0, L::French},  // the default mask: 1
  };
  for (const auto& c : cases)
    EXPECT_EQ(defaultLanguage(c.mask, c.user), c.expected) << "user " << c.user << " mask " << c.mask;
  EXPECT_EQ(defaultLanguage(all), defaultLanguage(all, ::GetUserDefaultLangID()));
}

TEST(LanguageLocaleData, RightToLeftAndNativeNames) {
  for (LanguageId language = 0; language < L::Count; ++language)
    EXPECT_EQ(isRightToLeftLanguage(language), language == L::Hebrew) << language;
  EXPECT_EQ(languageDisplayName(L::French), L"Fran\u00e7ais");
  EXPECT_EQ(languageDisplayName(L::Polish), L"Polski");  // "polski" in the locale data
  EXPECT_EQ(languageDisplayName(L::Hebrew), L"\u05e2\u05d1\u05e8\u05d9\u05ea");
}

TEST(LanguageLocaleData, SerbianLatinName) {
  if (running_under_wine()) GTEST_SKIP() << "Wine has no locale data for LCID 2074 (0x081A)";
  EXPECT_EQ(languageDisplayName(L::SerbianLatin), L"Srpski");
}

// The user language as the system reports it. The regular run has an English user; the entry
// LanguageUserLocale.GermanUserLanguage runs this group with LC_ALL=de_DE.UTF-8.
TEST(LanguageUserLocale, GermanUser) {
  if (PRIMARYLANGID(::GetUserDefaultLangID()) != LANG_GERMAN)
    GTEST_SKIP() << "needs a German user language (LC_ALL=de_DE.UTF-8 under Wine)";
  EXPECT_EQ(defaultLanguage(productLanguageMask), L::German);
  EXPECT_EQ(defaultLanguage(0x3), L::English);
  EXPECT_EQ(languageLcid(L::German), ::GetUserDefaultLCID());
  EXPECT_EQ(languageLcid(L::French), MAKELCID(1036, SORT_DEFAULT));
  EXPECT_EQ(languageDisplayName(L::German), L"Deutsch");
  ASSERT_NO_THROW(applyProcessLocale(L::German));
  EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
}

// Whatever names the run-time libraries refuse, applying a language never throws and numbers
// keep the classic conventions.
TEST_F(LanguageTest, ApplyProcessLocaleSurvivesEveryLanguage) {
  for (LanguageId language = 0; language < L::Count; ++language) {
    std::setlocale(LC_ALL, "French_France.1252");  // visible unless reset to "C"
    ASSERT_NO_THROW(applyProcessLocale(language)) << language;
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C") << language;
    EXPECT_EQ(std::use_facet<std::numpunct<char>>(std::locale()).decimal_point(), '.') << language;
    char number[16];
    std::snprintf(number, sizeof number, "%.1f", 1.5);
    EXPECT_STREQ(number, "1.5") << language;
  }
}

TEST_F(LanguageTest, InsertionsAndTitle) {
  EXPECT_EQ(formatMessage(L"%2 then %1, %1", {L"one", L"two"}), L"two then one, one");
  EXPECT_EQ(formatMessage(L"[%1]", {L"%2 50%"}), L"[%2 50%]");  // inserts are not expanded
  EXPECT_EQ(formatMessage(L"a%1b%2c", {L"X"}), L"aXbc");        // unfilled points stay empty
  EXPECT_EQ(formatLocalized(1110, {}), raw(1110));              // line breaks kept
  EXPECT_EQ(formatLocalized(1123, {L"C:\\Tessaline 7"}), L"Dossier d'installation\u00a0: C:\\Tessaline 7.");
  EXPECT_EQ(applicationTitle(true), L"Installeur \u2013 Tessaline 7.08v");
  setCurrentLanguage(L::English);
  EXPECT_EQ(formatLocalized(1101, {L"A", L"B"}), L"Update from 'A' to 'B'.");
  EXPECT_EQ(applicationTitle(false), L"Installer");
}

}  // namespace
