// What start-up found of an earlier installation of the product.
#pragma once

#include <cstdint>

namespace engine {

enum class ExistingInstall : std::int32_t {
  None = 0,
  SameVersion = 1,   // same version, or an installed executable without version information
  OlderVersion = 2,  // an update
  NewerVersion = -1, // the installer refuses to go past the Start page
};

}  // namespace engine
