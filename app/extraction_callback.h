// The install sequence's answer to the payload extractor: for each report it shows what is being
// copied (on the Progress page, or in the log of an unattended installation), decides per payload
// kind whether a file is written, skipped or adopted, journals every file it lets through, moves
// the progress bar, and keeps the page painting by dispatching waiting window messages after
// every report.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <istream>
#include <span>
#include <string>

#include "app/do_install.h"
#include "steps/install_progress.h"
#include "payload/payload_notification.h"

class CInstallApp;

// The access mask that shared files get for the local Users group: read, write and delete.
inline constexpr DWORD sharedFileAccess = 0x13019F;

class CExtractionCallback {
 public:
  // `payload` is the stream the extractor reads, proven by `digest` (empty: decompressed whole);
  // the proving pass rewinds it when it succeeds. The executables met in the payload are
  // recorded in `programs`.
  CExtractionCallback(engine::InstallProgress& progress, CInstallApp& app,
                      InstalledPrograms& programs, std::istream& payload,
                      std::span<const std::byte> digest = {})
      : progress_(progress), app_(app), programs_(programs), payload_(payload), digest_(digest) {}

  // Handles one report; a failed verification throws the compress error `verification_failed`,
  // which the extractor turns into its `failed` report.
  engine::notification::result operator()(const engine::notification& report);

 private:
  engine::notification::result onStarted();
  engine::notification::result onFileBegin(const engine::PayloadEntry& entry);
  engine::notification::result onFileEnd(const engine::PayloadEntry& entry);
  void onFailed(const std::error_code& code, const std::wstring& path);
  // Whether the window's messages are dispatched after `report`.
  bool pumpDue(const engine::notification& report);
  // Keeps a proven file of the working folder locked until the run ends and proves it again.
  void holdTemporaryFile(const engine::PayloadEntry& entry);

  engine::InstallProgress& progress_;
  CInstallApp& app_;
  InstalledPrograms& programs_;
  std::istream& payload_;
  std::span<const std::byte> digest_;
  unsigned long long lastPump_ = 0;  // GetTickCount64 at the last dispatch
};

// "Copying File  %1..." with `path` in double quotes when it holds a blank (260-character
// buffer, as the shell quotes it).
std::wstring copyingFileText(const std::wstring& path);

// The progress log's line under a failed extraction: the system's message for a system code (in
// the installer's language where the system has it), a sentence of ours for a damaged payload
// (codes 4 and 6), followed by the file concerned in parentheses. Empty when there is nothing to
// say.
std::wstring failureDetail(const std::error_code& code, const std::wstring& path);

// The archive an installation extracts and the digest it is proven by (empty: none, the archive
// is proven by decompressing all of it).
struct PayloadBytes {
  std::span<const std::byte> archive;
  std::span<const std::byte> digest;
};

// Where DoInstall takes the archive from: the executable's embedded payload unless replaced.
using PayloadSource = std::function<PayloadBytes()>;
// Replaces the archive source (an empty function restores the embedded one); returns the previous.
PayloadSource SetPayloadSource(PayloadSource source);
PayloadBytes CurrentPayload();
