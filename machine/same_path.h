// Whether two paths name the same file or folder.
#pragma once

#include <filesystem>

namespace engine {

// True when `a` and `b` name the same file: their texts are equal (case-sensitive, any run of
// \ or / counting as one separator); otherwise, when both can be opened, their file identities
// (volume serial number and file index) are equal; otherwise their absolute forms are equal
// element by element, elements compared without regard to case.
bool SamePath(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace engine
