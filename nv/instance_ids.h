// The fixed suffixes of the named objects through which the installer and the product see each
// other. Both programs include this header: a program with other values sees neither object.
#pragma once

namespace nv {

// The instance tracker (counting semaphore): "Global\" + application id + "." + tracker_guid.
inline constexpr wchar_t tracker_guid[] = L"{3687d584-e8d4-4af3-bfc9-e7cfea171836}";
// The single-instance mutex: "Global\" + application id + "." + mutex_guid.
inline constexpr wchar_t mutex_guid[] = L"{1a6c0a0a-619e-4702-b816-909395d857c2}";

static_assert(sizeof tracker_guid / sizeof tracker_guid[0] == 39, "38 characters and the NUL");
static_assert(sizeof mutex_guid / sizeof mutex_guid[0] == 39, "38 characters and the NUL");

}  // namespace nv
