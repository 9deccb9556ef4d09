// Makes chosen paths look like links (reparse points) to the link checks while it lives, since the
// test system cannot make real ones; every other path and every handle is answered as before.
#pragma once

#include <set>
#include <string>
#include <utility>

#include "nv/link_check.h"

namespace nv_test {

class planted_links {
 public:
  explicit planted_links(std::set<std::wstring> paths) : paths_(std::move(paths)) {
    previous_ = nv::set_link_queries({[this](const std::wstring& path) {
                                        DWORD attributes = previous_.attributes(path);
                                        if (paths_.count(path) &&
                                            attributes != INVALID_FILE_ATTRIBUTES)
                                          attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                                        return attributes;
                                      },
                                      {}});
  }
  ~planted_links() { nv::set_link_queries(previous_); }
  planted_links(const planted_links&) = delete;
  planted_links& operator=(const planted_links&) = delete;

 private:
  std::set<std::wstring> paths_;
  nv::link_queries previous_;
};

}  // namespace nv_test
