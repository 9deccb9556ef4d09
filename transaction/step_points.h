// Named points of an installation run and of the recovery of interrupted runs: every entry written
// ahead to a run's journal file, the end of each install step, each record a recovery undoes.
// A test build of the installer watches them to stop the process at one chosen point and prove
// that whatever happens next can be recovered; the shipped installer watches none.
#pragma once

namespace engine {

// Told the name of each point reached, e.g. "install.append" or "recover.undo". Must not throw.
using StepObserver = void (*)(const char* step) noexcept;

// Installs `observer` (null: none) and returns the previous one.
StepObserver SetStepObserver(StepObserver observer) noexcept;

// Reports the point `step` to the observer, when there is one.
void ReachStep(const char* step) noexcept;

}  // namespace engine
