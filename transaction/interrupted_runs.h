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
  std::wstring journal;    // its journal file, deleted once the run is completely undone
  bool finished = false;   // it had committed: its changes stand, only its leftovers went
  bool damaged = false;    // its file ended in a torn or damaged entry: used up to that entry
  std::size_t undone = 0;  // records undone
  // Paths of records that lie outside the run's places (removal_places.h) or whose backup is not
  // the run's own: never acted on.
  std::vector<std::wstring> refused;
  // Files that could not be deleted or put back (another program holds them): the journal stays
  // for the next attempt.
  std::vector<std::wstring> held;
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
  // True when some run could not be undone completely: nothing may be installed over it.
  bool unfinished() const;
  // The first file that a run could not put back; empty when there is none.
  std::wstring heldFile() const;
};

// Told of each run as soon as it has been recovered. Must not throw.
using RecoveryObserver = std::function<void(const RecoveredRun& run)>;

// Recovers every interrupted run whose journal is in the journal folder (journal_folder.h). Only
// for a process with administrator rights. Nothing to do, and no error, when the folder does not
// exist; an untrusted folder or journal is refused and left alone.
RecoveryResult RecoverInterruptedRuns(const RecoveryObserver& observer = {});

}  // namespace engine
