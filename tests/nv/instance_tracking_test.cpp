#include "nv/instance_tracking.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "nv/advapi32.h"
#include "nv/instance_ids.h"
#include "nv/version_info.h"

namespace {

namespace hooks = nv::advapi32::test_hooks;

constexpr DWORD kHelperHeld = 10;
constexpr DWORD kHelperNotHeld = 11;

// Names no installer uses and no other test process shares.
std::wstring unique_name(const wchar_t* what) {
  static int counter = 0;
  return L"nv_instance_tests." + std::to_wstring(::GetCurrentProcessId()) + L"." +
         std::to_wstring(++counter) + L"." + what;
}

std::wstring helper_path() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  std::wstring path(buffer, length);
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"nv_instance_helper.exe";
}

// nv_instance_helper in `mode` on the object `name`, started and waited for until it has
// registered or tried the mutex.
class helper_process {
 public:
  helper_process(const wchar_t* mode, const std::wstring& name) {
    const std::wstring ready_name = unique_name(L"ready");
    const std::wstring quit_name = unique_name(L"quit");
    ready_.reset(::CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
    quit_.reset(::CreateEventW(nullptr, TRUE, FALSE, quit_name.c_str()));
    std::wstring command = L"\"" + helper_path() + L"\" " + mode + L" " + name + L" " +
                           ready_name + L" " + quit_name;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
      ADD_FAILURE() << "CreateProcessW " << ::GetLastError();
      return;
    }
    process_.reset(info.hProcess);
    nv::unique_handle thread(info.hThread);
    const HANDLE waits[] = {ready_.get(), process_.get()};
    started_ = ::WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
    EXPECT_TRUE(started_) << "the helper did not get ready";
  }
  ~helper_process() {
    if (process_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) finish();
  }

  bool started() const { return started_; }

  // Lets the helper end normally; its exit code.
  DWORD finish() {
    ::SetEvent(quit_.get());
    return wait_for_exit();
  }

  // Ends the helper without its exit-time clean-up.
  void kill() {
    ::TerminateProcess(process_.get(), 99);
    wait_for_exit();
  }

 private:
  DWORD wait_for_exit() {
    EXPECT_EQ(::WaitForSingleObject(process_.get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    ::GetExitCodeProcess(process_.get(), &code);
    return code;
  }

  nv::unique_handle ready_, quit_, process_;
  bool started_ = false;
};

class InstanceTracking : public ::testing::Test {
 protected:
  void TearDown() override { hooks::set_module_unavailable(false); }
};

TEST_F(InstanceTracking, GlobalObjectsAreSharedAndKeepTheLastError) {
  const std::wstring semaphore_name = unique_name(L"semaphore");
  ::SetLastError(12345);
  nv::unique_handle first(nv::create_global_semaphore(0, 10, semaphore_name));
  ASSERT_TRUE(first);
  EXPECT_EQ(::GetLastError(), 0u);
  nv::unique_handle second(nv::create_global_semaphore(5, 10, semaphore_name));
  ASSERT_TRUE(second);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
  // The second call opened the first object and ignored its counts.
  LONG previous = -1;
  ASSERT_TRUE(::ReleaseSemaphore(second.get(), 1, &previous));
  EXPECT_EQ(previous, 0);
  EXPECT_EQ(::WaitForSingleObject(first.get(), 0), WAIT_OBJECT_0);

  const std::wstring mutex_name = unique_name(L"mutex");
  nv::unique_handle mutex(nv::create_global_mutex(false, mutex_name));
  ASSERT_TRUE(mutex);
  EXPECT_EQ(::GetLastError(), 0u);
  nv::unique_handle again(nv::create_global_mutex(false, mutex_name));
  ASSERT_TRUE(again);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_ALREADY_EXISTS});

  // Without the descriptor nothing is created.
  hooks::set_module_unavailable(true);
  EXPECT_EQ(nv::create_global_semaphore(0, 1, unique_name(L"none")), nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_CAN_NOT_COMPLETE});
  EXPECT_EQ(nv::create_global_mutex(true, unique_name(L"none")), nullptr);
  EXPECT_EQ(::GetLastError(), DWORD{ERROR_CAN_NOT_COMPLETE});
}

TEST_F(InstanceTracking, NamesCarryTheFixedSuffixes) {
  EXPECT_EQ(nv::tracker_name(L"Tessaline7"), std::wstring(L"Tessaline7.") + nv::tracker_guid);
  EXPECT_EQ(nv::mutex_name(L"Tessaline7"), std::wstring(L"Tessaline7.") + nv::mutex_guid);
  EXPECT_NE(std::wstring(nv::tracker_guid), std::wstring(nv::mutex_guid));
}

TEST_F(InstanceTracking, AloneTheProcessCountsItself) {
  nv::initialize_application_id();
  ASSERT_FALSE(nv::application_id().empty());
  EXPECT_EQ(nv::running_instances(), 1u);
  // Counting takes its own unit back: asking again gives the same answer.
  EXPECT_EQ(nv::running_instances(), 1u);
}

TEST_F(InstanceTracking, RegistrationsCountAndNormalExitTakesTheUnitBack) {
  const std::wstring name = unique_name(L"tracker");
  nv::instance_tracker own(name);
  ASSERT_NE(own.handle(), nullptr);
  EXPECT_EQ(own.held(), 1);
  EXPECT_EQ(own.running(), 1u);

  {
    nv::instance_tracker second(name);
    EXPECT_EQ(own.running(), 2u);
  }
  EXPECT_EQ(own.running(), 1u);

  helper_process other(L"register", name);
  ASSERT_TRUE(other.started());
  EXPECT_EQ(own.running(), 2u);
  EXPECT_EQ(other.finish(), 0u);
  EXPECT_EQ(own.running(), 1u);
}

TEST_F(InstanceTracking, KilledRegistrantStaysCountedWhileTheSemaphoreIsOpen) {
  const std::wstring name = unique_name(L"tracker");
  {
    nv::instance_tracker own(name);
    helper_process other(L"register", name);
    ASSERT_TRUE(other.started());
    EXPECT_EQ(own.running(), 2u);
    other.kill();
    EXPECT_EQ(own.running(), 2u);
  }
  // Once every holder has closed it the semaphore is gone and counting starts again.
  nv::instance_tracker fresh(name);
  EXPECT_EQ(fresh.running(), 1u);
}

TEST_F(InstanceTracking, UnavailableTrackerCountsNothing) {
  hooks::set_module_unavailable(true);
  nv::instance_tracker tracker(unique_name(L"tracker"));
  EXPECT_EQ(tracker.handle(), nullptr);
  EXPECT_EQ(tracker.held(), 0);
  EXPECT_EQ(tracker.running(), 0u);
}

TEST_F(InstanceTracking, SecondHolderFailsToLock) {
  const std::wstring name = unique_name(L"mutex");
  nv::named_mutex mutex(name, false, true);
  EXPECT_FALSE(mutex.owned());
  ASSERT_TRUE(mutex.try_lock());
  EXPECT_TRUE(mutex.owned());

  helper_process other(L"hold", name);
  ASSERT_TRUE(other.started());
  EXPECT_EQ(other.finish(), kHelperNotHeld);
  EXPECT_TRUE(mutex.owned());
}

TEST_F(InstanceTracking, UnlockHandsTheMutexOver) {
  const std::wstring name = unique_name(L"mutex");
  nv::named_mutex mutex(name, true, true);
  ASSERT_TRUE(mutex.owned());
  mutex.unlock();
  EXPECT_FALSE(mutex.owned());

  helper_process other(L"hold", name);
  ASSERT_TRUE(other.started());
  EXPECT_FALSE(mutex.try_lock());
  EXPECT_FALSE(mutex.owned());
  EXPECT_EQ(other.finish(), kHelperHeld);
  // The helper let go at exit.
  EXPECT_TRUE(mutex.try_lock());
}

TEST_F(InstanceTracking, AbandonedMutexCountsAsTaken) {
  const std::wstring name = unique_name(L"mutex");
  nv::named_mutex mutex(name, false, true);
  helper_process other(L"hold", name);
  ASSERT_TRUE(other.started());
  EXPECT_FALSE(mutex.try_lock());
  other.kill();
  EXPECT_TRUE(mutex.try_lock());
  EXPECT_TRUE(mutex.owned());
}

TEST_F(InstanceTracking, MutexWithoutHandleIsNeverTaken) {
  hooks::set_module_unavailable(true);
  nv::named_mutex mutex(unique_name(L"mutex"), true, true);
  EXPECT_EQ(mutex.handle(), nullptr);
  EXPECT_FALSE(mutex.owned());
  EXPECT_FALSE(mutex.try_lock());
}

}  // namespace
