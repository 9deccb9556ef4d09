// Ownership of a Win32 kernel handle; the engine uses the support library's class.
#pragma once

#include "nv/unique_handle.h"

namespace engine {

using win_handle = nv::unique_handle;

}  // namespace engine
