// The line format of "Uninstall.ulog", defined once for the writer that produces it and the
// reader that takes it back: the header texts, the entry line of one journal record and its
// parser, and the limits both sides rely on.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "transaction/install_journal.h"

namespace uninstall_log {

// The log's file name, beside the installed uninstaller.
inline constexpr std::wstring_view log_file_name = L"Uninstall.ulog";

// The only format version written and accepted.
inline constexpr int format_version = 1;

// Every line, the last one included, ends with CR LF.
inline constexpr std::wstring_view line_end = L"\r\n";

// Header lines: "// " and a text; the texts below start lines 1, 2, 3, 4 and 5.
inline constexpr std::wstring_view header_prefix = L"// ";
inline constexpr std::wstring_view version_marker = L"Uninstall Log File v";
inline constexpr std::wstring_view warning_text =
    L"############ WARNING: Do not delete or modify this file. ############";
inline constexpr std::wstring_view install_marker = L"Install";
inline constexpr std::wstring_view update_marker = L" -- Update (";
inline constexpr std::wstring_view label_end_marker = L"--";
inline constexpr std::wstring_view install_path_marker = L"Install Path : ";
inline constexpr std::wstring_view shortcut_path_marker = L"Shortcut Path : ";
inline constexpr std::size_t header_line_count = 6;

// Between an entry line's done digit and its text.
inline constexpr std::wstring_view entry_separator = L" -- ";

// The fixed text of a ProductRegistration line.
inline constexpr std::wstring_view product_registration_text = L"HKEY_CLASSES_ROOT\\...";

// Attributes of the finished log: read-only, archive, not content-indexed.
inline constexpr DWORD written_attributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
static_assert(written_attributes == 0x2021);

// The reader collects a line, its line feed included, in this many bytes; a longer line is
// damaged. The writer's lines stay far below it (paths are cut at 260 characters).
inline constexpr std::size_t max_line_bytes = 1024;

// The fixed text of an UninstallKey line: the product's uninstall key under
// HKEY_LOCAL_MACHINE, named by the current product's registry name.
std::wstring uninstall_key_text();

// "// " + `text` + CR LF.
std::wstring header_line(std::wstring_view text);

// The six header lines in file order, each with its CR LF. `label` is the product label with
// its version; a non-empty `previousLabel` adds " -- Update (previousLabel)" to line 3.
std::wstring header_lines(std::wstring_view label, std::wstring_view previousLabel,
                          std::wstring_view installFolder, std::wstring_view menuFolder);

// The code of a record: kind in the high byte, the payload kind's low byte (ff for -1) below.
std::uint32_t entry_code(const engine::JournalRecord& record);

// One entry line with its CR LF: index (at least 4 decimal digits), ":", code (at least 4
// lower-case hexadecimal digits), ":", done digit, " -- ", text. `text` is what the line names
// (the caller substitutes the fixed texts of kinds 5 and 6).
std::wstring entry_line(std::size_t index, const engine::JournalRecord& record,
                        std::wstring_view text);

// The white space that the reader trims and skips: space, tab, LF, VT, FF, CR.
bool is_log_space(wchar_t c) noexcept;

// Parses an entry line whose trailing white space is already removed: a non-negative decimal
// index, ":", a hexadecimal code whose kind is 0..7, ":", done "0" or "1", the word "--" and
// the path (leading white space removed), white space allowed before each field. Nothing when
// any field is missing or wrong. The record's backupPath is empty; its path is kept as read.
std::optional<engine::JournalRecord> parse_entry_line(std::wstring_view line);

}  // namespace uninstall_log
