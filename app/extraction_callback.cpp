#include "app/extraction_callback.h"

#include <shlwapi.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "app/install_app.h"
#include "app/install_outcome.h"
#include "localization/languages.h"
#include "payload/compress_error.h"
#include "payload/embedded_payload.h"
#include "payload/payload_digest.h"
#include "payload/error_code_text.h"
#include "payload/file_crc32.h"
#include "machine/machine_folders.h"
#include "steps/message_pump.h"
#include "payload/payload_extractor.h"
#include "machine/temporary_folder.h"
#include "nv/fatal_error.h"
#include "nv/fixed_path.h"
#include "nv/link_check.h"
#include "nv/security.h"
#include "nv/utf8.h"

namespace {

using engine::notification;
using engine::PayloadKind;

constexpr wchar_t kLineBreak[] = L"\r\n";

PayloadSource& payloadSource() {
  static PayloadSource source;
  return source;
}

// Modify access for Users on a shared file; a refusal is not an installation failure.
void grantModifyAccess(const std::wstring& path) {
  nv::grant_users_access(path, sharedFileAccess, 0);
}

}  // namespace

std::wstring copyingFileText(const std::wstring& path) {
  wchar_t buffer[MAX_PATH] = {};
  const std::wstring cut = nv::fixed_path::cut(path);
  cut.copy(buffer, cut.size());
  // Two quotes more than the cut path may not fit: then the path is shown without them.
  if (cut.size() + 2 < MAX_PATH) ::PathQuoteSpacesW(buffer);
  return formatLocalized(1115, {buffer});
}

PayloadSource SetPayloadSource(PayloadSource source) {
  return std::exchange(payloadSource(), std::move(source));
}

PayloadBytes CurrentPayload() {
  if (payloadSource()) return payloadSource()();
  return {engine::embedded_payload(), engine::embedded_payload_digest()};
}

bool CExtractionCallback::pumpDue(const notification& report) {
  // Without a window (an unattended run) there is nothing to keep painting.
  if (!progress_.ownerWindow()) return false;
  // The progress of every piece comes far more often than a window needs to repaint: each
  // dispatch is a round trip to the window system, so pieces pump at most every 25 ms.
  const ULONGLONG now = ::GetTickCount64();
  if (std::holds_alternative<engine::progress>(report) && now - lastPump_ < 25) return false;
  lastPump_ = now;
  return true;
}

notification::result CExtractionCallback::operator()(const notification& report) {
  // Messages are dispatched whatever the handling did, also when the verification throws.
  struct pump_on_exit {
    bool due;
    ~pump_on_exit() {
      if (due) engine::PumpMessages();
    }
  } pump{pumpDue(report)};

  if (std::holds_alternative<engine::started>(report)) return onStarted();
  if (const auto* begin = std::get_if<engine::file_begin>(&report))
    return onFileBegin(begin->entry);
  if (const auto* end = std::get_if<engine::file_end>(&report)) return onFileEnd(end->entry);
  if (const auto* step = std::get_if<engine::progress>(&report)) {
    progress_.setProgress(step->processed, step->total);
    return notification::result::proceed;
  }
  if (const auto* failure = std::get_if<engine::failed>(&report))
    onFailed(failure->code, failure->path);
  return notification::result::proceed;
}

notification::result CExtractionCallback::onStarted() {
  progress_.setStatus(localizedString(1114));
  progress_.appendLog(localizedString(1114));
  if (!engine::prove_payload(payload_, digest_))
    throw std::system_error(engine::compress_errc::verification_failed);
  progress_.appendLog(localizedString(1011) + kLineBreak);
  return notification::result::proceed;
}

notification::result CExtractionCallback::onFileBegin(const engine::PayloadEntry& entry) {
  const std::wstring target = entry.destination.wstring();
  // A link on the way to a file below a folder every user can write to: nothing is written,
  // adopted, granted or backed up through it.
  const std::error_code linked = engine::refuse_links(target);
  switch (entry.kind) {
    case PayloadKind::MainProgram:
      programs_.mainProgramPath = target;
      break;
    case PayloadKind::Uninstaller:
      programs_.uninstallerPath = target;
      break;
    case PayloadKind::Temporary:
      if (engine::currentTemporaryFolder) engine::currentTemporaryFolder->AddFile(target);
      // Written ahead as well: a killed run leaves no file in its working folder.
      if (const std::error_code error =
              app_.uninstallLog.WriteAhead({engine::RecordKind::TemporaryFile, target}))
        throw std::filesystem::filesystem_error("journal", entry.destination, error);
      break;
    case PayloadKind::Sample:
      if (app_.existingInstall == ExistingInstall::OlderVersion) return notification::result::skip;
      break;
    case PayloadKind::SharedData:
      if (app_.existingInstall != ExistingInstall::None &&
          app_.uninstallLog.WasInstalledBefore(target)) {
        if (!linked) grantModifyAccess(target);
        return notification::result::skip;
      }
      if (!linked && ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        // A file known by a second name elsewhere is not ours to record or open up: left alone.
        if (!nv::is_plain_file(nv::facts_of(target))) return notification::result::skip;
        // Adopted: the file stays as it is and is recorded as installed, its source kept.
        app_.uninstallLog.AdoptFile(target, static_cast<std::int32_t>(entry.kind));
        grantModifyAccess(target);
        return notification::result::skip;
      }
      break;
    default:
      break;
  }

  const std::wstring text = copyingFileText(target);
  std::error_code refusal = linked;
  if (!refusal && entry.kind != PayloadKind::Temporary)
    refusal = app_.uninstallLog.BeginFile(target, static_cast<std::int32_t>(entry.kind),
                                          entry.kind == PayloadKind::SharedData);
  progress_.setStatusPath(text);
  progress_.appendLog(text);
  // A link in the way, or a file it would replace that could not be secured: the installation
  // fails and rolls back rather than reach through the link or lose that file.
  if (refusal) throw std::filesystem::filesystem_error("begin file", entry.destination, refusal);
  return notification::result::proceed;
}

notification::result CExtractionCallback::onFileEnd(const engine::PayloadEntry& entry) {
  if (entry.kind == PayloadKind::SharedData) grantModifyAccess(entry.destination.wstring());
  if (entry.kind == PayloadKind::Temporary) holdTemporaryFile(entry);
  if (entry.kind != PayloadKind::Temporary) app_.uninstallLog.EndOperation(true, nullptr);
  progress_.appendLog(localizedString(1011) + kLineBreak);
  return notification::result::proceed;
}

void CExtractionCallback::holdTemporaryFile(const engine::PayloadEntry& entry) {
  if (!engine::currentTemporaryFolder) return;
  // Locked against change first, then proven again: the file the DirectX step loads is the file
  // whose checksum was right.
  const std::wstring target = entry.destination.wstring();
  if (const std::error_code error = engine::currentTemporaryFolder->HoldFile(target))
    throw std::filesystem::filesystem_error("hold", entry.destination, error);
  if (engine::file_crc32(entry.destination) != entry.crc)
    throw std::system_error(engine::compress_errc::invalid_checksum);
}

void CExtractionCallback::onFailed(const std::error_code& code, const std::wstring& path) {
  app_.uninstallLog.EndOperation(false, nullptr);
  progress_.appendLog(localizedString(1012) + kLineBreak);
  // What went wrong and where, for the person who has to act on it.
  if (const std::wstring detail = failureDetail(code, path); !detail.empty())
    progress_.appendLog(detail + kLineBreak);
  progress_.setFailure(InstallFailedText(engine::error_code_text(code)));
}

std::wstring failureDetail(const std::error_code& code, const std::wstring& path) {
  std::wstring text;
  if (code.category() == std::system_category())
    text = nv::system_message(static_cast<DWORD>(code.value()),
                              languageLangId(currentLanguage().language));
  else if (code.category() == engine::compress_category())
    // Only a payload that fails its proof or its decompression is damaged; a written file that
    // no longer matches (another program changed it) or a folder that is missing is not.
    text = code == engine::compress_errc::verification_failed ||
                   code == engine::compress_errc::bzip2_failure
               ? localizedString(1133)
               : L"";
  else if (code)
    text = nv::from_utf8(code.message());
  if (path.empty()) return text;
  return text.empty() ? L"(" + path + L")" : text + L" (" + path + L")";
}
