#include "payload/compress_error.h"

#include <string>

namespace engine {
namespace {

class compress_category_impl final : public std::error_category {
 public:
  const char* name() const noexcept override { return "compress"; }

  std::string message(int value) const override {
    switch (static_cast<compress_errc>(value)) {
      case compress_errc::invalid_checksum: return "invalid checksum";
      case compress_errc::interrupted: return "interrupted";
      case compress_errc::bzip2_failure: return "bzip2 error";
      case compress_errc::unexpected: return "unexpected error";
      case compress_errc::verification_failed:
      default: return "unknown error";
    }
  }
};

}  // namespace

const std::error_category& compress_category() noexcept {
  static const compress_category_impl category;
  return category;
}

std::error_code make_error_code(compress_errc e) noexcept {
  return {static_cast<int>(e), compress_category()};
}

}  // namespace engine
