// The recovery of installation runs that were interrupted (the process killed, the power lost):
// the journal files that such runs left in the journal folder are read back and each run is
// undone, newest first, record by record through the same undo as Rollback; a run that had
// already committed only loses the backups and working files it left. The installer and the
// uninstaller call it at start-up, right after they took their single-instance mutex and before
// they read anything of the machine. The current product must be set.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

namespace engine {

// One run that was recovered.
struct RecoveredRun {
  std::wstring journal;    // its journal file, now deleted
  bool finished = false;   // it had committed: its changes stand, only its leftovers went
  bool damaged = false;    // its file ended in a torn or damaged entry: used up to that entry
  std::size_t undone = 0;  // records undone
};

struct RecoveryResult {
  std::vector<RecoveredRun> runs;  // in the order recovered, newest run first
  std::size_t alive = 0;           // journals of runs that are still running, left alone
  // Journals left alone as not to be trusted or not understood: a link, a file with a second
  // name, a file no administrator owns, another format version.
  std::size_t refused = 0;
  // The journal folder could not be made safe or listed: nothing was recovered.
  std::error_code error;

  // True when some run that had not finished was undone.
  bool undidInstallation() const;
};

// Told of each run as soon as it has been recovered. Must not throw.
using RecoveryObserver = std::function<void(const RecoveredRun& run)>;

// Recovers every interrupted run whose journal is in the journal folder (journal_folder.h).
// Nothing to do, and no error, when the folder does not exist.
RecoveryResult RecoverInterruptedRuns(const RecoveryObserver& observer = {});

}  // namespace engine
