#include "transaction/step_points.h"

#include <utility>

namespace engine {
namespace {

StepObserver observer = nullptr;

}  // namespace

StepObserver SetStepObserver(StepObserver replacement) noexcept {
  return std::exchange(observer, replacement);
}

void ReachStep(const char* step) noexcept {
  if (observer) observer(step);
}

}  // namespace engine
