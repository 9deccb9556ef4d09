#include "engine/payload_names.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>

#include "engine/compress_error.h"

namespace {

std::string shown(std::wstring_view name) {
  std::string out;
  for (const wchar_t c : name) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  return "\"" + out + "\"";
}

TEST(PayloadNames, PlainNamesAreThoseWindowsStoresAsWritten) {
  const struct {
    std::wstring_view name;
    bool plain;
  } cases[] = {
      {L"Tessaline.de.dll", true},
      {L"User Image.png", true},
      {L".profile", true},
      {L"a..b", true},
      {L"\u040Aname.dat", true},
      // Near the device names without being one.
      {L"COM", true},
      {L"COM10", true},
      {L"LPT1a.txt", true},
      {L"NULL", true},
      {L"console.log", true},
      {L"con x.txt", true},
      {L"aux_.txt", true},
      // Empty, or a step within or out of the folder.
      {L"", false},
      {L".", false},
      {L"..", false},
      // Characters Windows reads otherwise or refuses: a stream, wildcards, control characters.
      {L"Z:escaped.txt", false},
      {L"a<b", false},
      {L"a>b", false},
      {L"a\"b", false},
      {L"a|b", false},
      {L"a?b", false},
      {L"a*b", false},
      {L"a/b", false},
      {L"a\\b", false},
      {L"tab\tname", false},
      {L"bell\a", false},
      {std::wstring_view(L"nul\0char", 8), false},
      // Trailing dots and blanks, which Windows drops.
      {L"readme.", false},
      {L"readme ", false},
      {L"readme. ", false},
      {L"...", false},
      // Devices in any case, with an extension, with blanks or dots before it.
      {L"CON", false},
      {L"prn", false},
      {L"Aux", false},
      {L"nUl", false},
      {L"NUL.txt", false},
      {L"nul.tar.gz", false},
      {L"NUL .txt", false},
      {L"Nul  . .txt", false},
      {L"CON..txt", false},
      {L"COM1", false},
      {L"com9.dat", false},
      {L"COM0", false},
      {L"LPT1", false},
      {L"lpt9.log", false},
      {L"COM\u00B9", false},
      {L"lpt\u00B3.txt", false},
      {L"CONIN$", false},
      {L"conout$.x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(engine::is_plain_name(c.name), c.plain) << shown(c.name);
}

TEST(PayloadNames, EntryNamesAreTheSourcesFileNameAndTheFoldersAfterTheToken) {
  const struct {
    const wchar_t* source;
    const wchar_t* destination;
    bool accepted;
  } cases[] = {
      // Only the source's last component counts; its folders play no part.
      {L"C:\\build\\..\\out\\Tessaline.exe", L"<InstallPath>", true},
      {L"C:\\build\\out\\", L"<InstallPath>", false},
      {L"a.txt", L"<CommonData>\\Nuvelle\\Materials", true},
      {L"a.txt", L"<InstallPath>\\Lang\\", true},  // a trailing separator
      {L"a.txt", L"<InstallPath>\\..\\x", false},
      {L"a.txt", L"<InstallPath>\\x\\.", false},
      {L"a.txt", L"<InstallPath>\\x:y", false},
      {L"a.txt", L"<InstallPath>\\LPT2", false},
      {L"a.txt", L"<Unknown>\\..", false},  // an unknown token still resolves below the folder
      {L"a.txt", L"", true},
      // Without a token the destination is used as written.
      {L"a.txt", L"C:\\Program Files\\Tessaline", true},
  };
  for (const auto& c : cases) {
    const engine::PayloadEntry entry{c.source, c.destination};
    SCOPED_TRACE(shown(c.source) + " in " + shown(c.destination));
    if (c.accepted) {
      EXPECT_NO_THROW(engine::check_entry_names(entry));
      continue;
    }
    try {
      engine::check_entry_names(entry);
      ADD_FAILURE() << "accepted";
    } catch (const std::system_error& e) {
      EXPECT_EQ(e.code(), engine::compress_errc::unexpected);
    }
  }
}

}  // namespace
