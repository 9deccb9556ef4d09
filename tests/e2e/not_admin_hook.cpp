// Linked only into the test build of the installer (installer_not_admin.exe): during static
// initialisation it makes the support library answer "not a member" for the Administrators
// group, which Wine never does on its own, so that the installer's refusal can be driven end to
// end. The shipped installer does not contain this unit.
#include "nv/advapi32.h"

namespace {

struct not_administrator {
  not_administrator() noexcept { nv::advapi32::test_hooks::set_token_membership_answer(0); }
};

const not_administrator hook;

}  // namespace
