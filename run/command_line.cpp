#include "run/command_line.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "payload/payload_names.h"
#include "nv/command_line.h"
#include "nv/fixed_path.h"

namespace {

// What the message says of an unknown argument: at most this many characters.
constexpr std::size_t kShownArgument = 80;
// "The option %1 is refused: %2", and the reasons of a path refused on the machine.
constexpr UINT kRefusedText = 1193;
constexpr UINT kNoDriveText = 1197;
constexpr UINT kIsAFileText = 1198;

// Upper case for ASCII letters only: option names, codes and device names are ASCII, and no
// locale (the Turkish dotted i, say) may change how they compare.
std::wstring upper(std::wstring_view text) {
  std::wstring result(text);
  std::transform(result.begin(), result.end(), result.begin(), [](wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  });
  return result;
}

bool iequal(std::wstring_view a, std::wstring_view b) { return upper(a) == upper(b); }

std::vector<std::wstring_view> splitAt(std::wstring_view text, wchar_t separator) {
  std::vector<std::wstring_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::wstring_view::npos ? end : end - start));
    if (end == std::wstring_view::npos) return parts;
    start = end + 1;
  }
}

// Elements separated by single backslashes, each a possible name; a trailing backslash is
// allowed when `trailing` is.
bool areNameElements(std::wstring_view path, bool trailing) {
  if (trailing && path.ends_with(L'\\')) path.remove_suffix(1);
  const auto elements = splitAt(path, L'\\');
  // The same rule as for the names in the payload's table.
  return std::all_of(elements.begin(), elements.end(), engine::is_plain_name);
}

bool startsWithDrive(std::wstring_view path) {
  const wchar_t drive = path.empty() ? L'\0' : upper(path.substr(0, 1))[0];
  return path.size() >= 3 && drive >= L'A' && drive <= L'Z' && path[1] == L':' &&
         path[2] == L'\\';
}

// `path` without a trailing backslash, a drive root keeping its own.
std::wstring withoutTrailingBackslash(std::wstring_view path) {
  if (path.size() > 3 && path.ends_with(L'\\')) path.remove_suffix(1);
  return std::wstring(path);
}

// An absolute path on a drive ("C:\..."), of a folder (the drive's root included) or of a
// file, into `result` as the installer keeps it; otherwise the fault.
std::optional<OptionFault> checkAbsolutePath(std::wstring_view path, bool folder,
                                             std::wstring& result) {
  if (path.find(L'/') != std::wstring_view::npos) return OptionFault::NotAPath;
  if (!startsWithDrive(path)) return OptionFault::RelativePath;
  if (path.size() > nv::fixed_path::max_length) return OptionFault::NotAPath;
  const std::wstring_view rest = path.substr(3);
  if (rest.empty() ? !folder : !areNameElements(rest, folder)) return OptionFault::NotAPath;
  result = withoutTrailingBackslash(path);
  return std::nullopt;
}

// The Start-menu folder: absolute, or a path of names below the Programs menu.
std::optional<OptionFault> checkMenuFolder(std::wstring_view path, std::wstring& result) {
  if (startsWithDrive(path)) return checkAbsolutePath(path, true, result);
  if (path.size() > nv::fixed_path::max_length || !areNameElements(path, true))
    return OptionFault::NotAPath;
  result = path.ends_with(L'\\') ? std::wstring(path.substr(0, path.size() - 1))
                                 : std::wstring(path);
  return std::nullopt;
}

std::optional<ShortcutOption> shortcutsFrom(std::wstring_view value) {
  if (iequal(value, L"none")) return ShortcutOption{};
  ShortcutOption shortcuts;
  for (std::wstring_view item : splitAt(value, L',')) {
    bool* chosen = iequal(item, L"menu")      ? &shortcuts.menu
                   : iequal(item, L"desktop") ? &shortcuts.desktop
                                              : nullptr;
    if (!chosen || *chosen) return std::nullopt;  // unknown, or named twice
    *chosen = true;
  }
  return shortcuts;
}

// A product language, by its code ("fr") or its decimal LanguageId ("0").
std::optional<LanguageId> languageFrom(std::wstring_view value) {
  std::optional<LanguageId> language;
  if (!value.empty() && value.size() <= 2 &&
      std::all_of(value.begin(), value.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
    LanguageId number = 0;
    for (wchar_t c : value) number = number * 10 + (c - L'0');
    language = number;
  } else {
    for (LanguageId candidate = 0; candidate < Languages::Count; ++candidate)
      if (iequal(value, languageTable()[static_cast<std::size_t>(candidate)].code))
        language = candidate;
  }
  if (!language || !isProductLanguage(*language)) return std::nullopt;
  return language;
}

enum class Option { Unattended, Help, Folder, Menu, Shortcuts, Language, Log, RemoveExamples };

struct OptionName {
  std::wstring_view name;
  Option option;
  bool takesValue;
  bool installer;    // an option of the installer
  bool uninstaller;  // an option of the uninstaller
};

constexpr std::array<OptionName, 9> kOptions{{
    {L"/S", Option::Unattended, false, true, true},
    {L"/?", Option::Help, false, true, true},
    {L"/HELP", Option::Help, false, true, true},
    {L"/D", Option::Folder, true, true, false},
    {L"/MENU", Option::Menu, true, true, false},
    {L"/SHORTCUTS", Option::Shortcuts, true, true, false},
    {L"/LANG", Option::Language, true, true, false},
    {L"/LOG", Option::Log, true, true, true},
    {L"/REMOVEEXAMPLES", Option::RemoveExamples, false, false, true},
}};

// Takes the value of one known option into `options`; the fault when it cannot.
std::optional<OptionFault> apply(Option option, std::wstring_view value,
                                 InstallOptions& options) {
  std::wstring path;
  std::optional<OptionFault> fault;
  switch (option) {
    case Option::Unattended:
      options.unattended = true;
      break;
    case Option::Help:
      options.help = true;
      break;
    case Option::RemoveExamples:
      options.removeExamples = true;
      break;
    case Option::Folder:
      fault = checkAbsolutePath(value, true, path);
      if (!fault) options.installFolder = path;
      break;
    case Option::Menu:
      fault = checkMenuFolder(value, path);
      if (!fault) options.menuFolder = path;
      break;
    case Option::Log:
      fault = checkAbsolutePath(value, false, path);
      if (!fault) options.logFile = path;
      break;
    case Option::Shortcuts:
      options.shortcuts = shortcutsFrom(value);
      if (!options.shortcuts) fault = OptionFault::BadValue;
      break;
    case Option::Language:
      options.language = languageFrom(value);
      if (!options.language) fault = OptionFault::BadValue;
      break;
  }
  return fault;
}

}  // namespace

ParsedCommandLine parseCommandLine(std::wstring_view commandLine, Program program) {
  ParsedCommandLine parsed;
  std::set<Option> seen;
  const auto refuse = [&parsed](OptionFault fault, std::wstring option) {
    if (!parsed.error) parsed.error = OptionError{fault, std::move(option), {}};
  };
  for (const std::wstring& argument : nv::command_line_arguments(commandLine)) {
    const std::size_t equals = argument.find(L'=');
    std::wstring name = argument.substr(0, equals);
    // Deployment tools write options with a dash as often as with a slash: "-S" is "/S".
    if (!name.empty() && name.front() == L'-') name.front() = L'/';
    const auto known = std::find_if(kOptions.begin(), kOptions.end(), [&](const OptionName& o) {
      return iequal(name, o.name) &&
             (program == Program::Installer ? o.installer : o.uninstaller);
    });
    if (known == kOptions.end()) {
      refuse(OptionFault::Unknown, argument.substr(0, kShownArgument));
      continue;
    }
    const std::wstring shown(known->name);
    if (!seen.insert(known->option).second) {
      // /S still counts when repeated: the refusal must stay without a box.
      if (known->option == Option::Unattended) parsed.options.unattended = true;
      refuse(OptionFault::Repeated, shown);
      continue;
    }
    const bool hasValue = equals != std::wstring::npos;
    if (!known->takesValue) {
      if (hasValue)
        refuse(OptionFault::BadValue, shown);
      else
        apply(known->option, {}, parsed.options);
      continue;
    }
    const std::wstring_view value =
        hasValue ? std::wstring_view(argument).substr(equals + 1) : std::wstring_view();
    if (value.empty()) {
      refuse(OptionFault::MissingValue, shown);
      continue;
    }
    if (const auto fault = apply(known->option, value, parsed.options)) refuse(*fault, shown);
  }
  return parsed;
}

std::optional<OptionError> checkFolderOnMachine(std::wstring_view option,
                                                const std::wstring& folder) {
  std::wstring path = folder;
  // Worded when described: the language may not be chosen yet.
  const auto refused = [&](UINT reason, const std::wstring& what) {
    return OptionError{OptionFault::NotAPath, std::wstring(option), what,
                       engine::PlaceRefusal::none, folder, reason};
  };
  for (;;) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
      if (attributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
      return refused(kIsAFileText, path);
    }
    const DWORD error = ::GetLastError();
    // Anything but "not there" (access denied, say) is left to the installation to meet.
    if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return std::nullopt;
    std::wstring parent = nv::fixed_path::remove_file_spec(path);
    // Not even the drive exists.
    if (parent.empty() || parent == path) return refused(kNoDriveText, folder.substr(0, 2));
    path = std::move(parent);
  }
}

std::wstring describeOptionError(const OptionError& error) {
  // One message per fault, in the order of OptionFault; the last two name a detail (%2).
  static constexpr std::array<UINT, 8> kMessages{1135, 1136, 1137, 1138, 1139, 1140, 1141, 1193};
  const auto index = static_cast<std::size_t>(error.fault);
  // A path refused on the machine: the option with its value, and why.
  if (error.fault == OptionFault::NotAPath && error.reason != 0)
    return formatLocalized(kRefusedText, {error.option + L"=" + error.value,
                                          formatLocalized(error.reason, {error.detail})});
  const std::wstring detail = error.fault == OptionFault::Unacceptable
                                  ? engine::describePlaceRefusal(error.refusal, error.detail)
                                  : error.detail;
  return formatLocalized(index < kMessages.size() ? kMessages[index] : kMessages[0],
                         {error.option, detail});
}
