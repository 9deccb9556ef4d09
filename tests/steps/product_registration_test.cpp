// Product registration against a scratch HKEY_LOCAL_MACHINE: the uninstall key's values, types,
// byte counts and order, foreign values kept, the journal's records with and without backup, the
// product path value, and the registration run of the product stand-in, which records how it was
// started and whether the installer's mutex was free.
#include "steps/product_registration.h"

#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "machine/trust_test_support.h"

#include "nv/product_test_support.h"
#include "nv/utf8.h"
#include "ui/wait_cursor.h"

namespace {

using nv_test::scratch_machine_key;
using nv_test::temp_folder;
namespace fs = std::filesystem;

const std::wstring kKeyPath =
    std::wstring(engine::uninstallKeyParent) + L"\\" + L"Tessaline 7";

struct RegValue {
  DWORD type = 0;
  std::vector<BYTE> data;
};

// Every value of `key`, in enumeration order.
std::vector<std::pair<std::wstring, RegValue>> ReadValues(HKEY key) {
  std::vector<std::pair<std::wstring, RegValue>> values;
  for (DWORD index = 0;; ++index) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0, size = 0;
    if (::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
      break;
    RegValue value{type, std::vector<BYTE>(size)};
    nameLength = 256;
    ::RegEnumValueW(key, index, name, &nameLength, nullptr, &type, value.data.data(), &size);
    values.emplace_back(name, std::move(value));
  }
  return values;
}

RegValue StringValue(const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

RegValue DwordValue(DWORD number) {
  const auto* bytes = reinterpret_cast<const BYTE*>(&number);
  return {REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof number)};
}

nv::reg_key OpenMachineKey(const std::wstring& path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return {};
  return nv::reg_key(key);
}

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override { nv::set_current_product(nv::tessaline_7); }
  void TearDown() override {
    // Backups the journal took live in the system temporary folder.
    for (const auto& record : journal.records)
      if (!record.backupPath.empty()) ::DeleteFileW(record.backupPath.c_str());
  }
  scratch_machine_key machine;
  temp_folder folder;
  engine::CInstallJournal journal;
  const std::wstring mainProgram = L"C:\\Program Files\\Nuvelle\\Tessaline 7\\Tessaline.exe";
  const std::wstring uninstaller = L"C:\\Program Files\\Nuvelle\\Tessaline 7\\Uninstall.exe";
};

// The twelve values and the quiet uninstall command, in the order they are written.
std::vector<std::pair<std::wstring, RegValue>> ExpectedValues(const std::wstring& mainProgram,
                                                              const std::wstring& uninstaller,
                                                              DWORD language) {
  const std::wstring web = engine::makerWebAddress;
  return {
      {L"DisplayName", StringValue(L"Tessaline 7.08v")},
      {L"UninstallString", StringValue(uninstaller)},
      {L"DisplayIcon", StringValue(mainProgram + L",0")},
      {L"DisplayVersion", StringValue(L"7.8.22.1")},
      {L"Publisher", StringValue(L"Nuvelle")},
      {L"URLInfoAbout", StringValue(web)},
      {L"HelpLink", StringValue(web)},
      {L"URLUpdateInfo", StringValue(web)},
      {L"HelpTelephone", StringValue(engine::makerTelephone)},
      {L"NoModify", DwordValue(1)},
      {L"NoRepair", DwordValue(1)},
      {L"NvLanguage", DwordValue(language)},
      {L"QuietUninstallString", StringValue(L"\"" + uninstaller + L"\" /S")},
  };
}

TEST_F(RegistrationTest, FreshUninstallKeyHoldsThirteenValuesAndIsJournaledWithoutBackup) {
  scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::uninstallKeyParent);
  // The chosen language is recorded, not the one the installer displays (English here).
  ASSERT_TRUE(engine::WriteUninstallKey(journal, mainProgram, uninstaller, Languages::Polish));

  const auto key = OpenMachineKey(kKeyPath);
  ASSERT_TRUE(key);
  std::map<std::wstring, RegValue> values;
  for (auto& [name, value] : ReadValues(key.get())) values[name] = value;
  EXPECT_EQ(values.size(), 13u);
  for (const auto& [name, expected] : ExpectedValues(mainProgram, uninstaller, 15)) {
    SCOPED_TRACE(testing::Message() << "value " << testing::PrintToString(name));
    ASSERT_EQ(values.count(name), 1u);
    EXPECT_EQ(values[name].type, expected.type);
    EXPECT_EQ(values[name].data, expected.data);
  }
  // "Tessaline 7.08v": 15 characters and the NUL.
  EXPECT_EQ(values[L"DisplayName"].data.size(), 32u);

  ASSERT_EQ(journal.records.size(), 1u);
  EXPECT_EQ(journal.records[0].kind, engine::RecordKind::UninstallKey);
  EXPECT_TRUE(journal.records[0].backupPath.empty());
  EXPECT_TRUE(journal.records[0].done);
  EXPECT_FALSE(journal.operationOpen);
}

TEST_F(RegistrationTest, FreshUninstallKeyEnumeratesValuesInWrittenOrder) {
  if (nv_testing::running_under_wine())
    GTEST_SKIP() << "Wine enumerates registry values sorted by name, not in creation order";
  scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::uninstallKeyParent);
  ASSERT_TRUE(engine::WriteUninstallKey(journal, mainProgram, uninstaller, Languages::Polish));
  const auto key = OpenMachineKey(kKeyPath);
  ASSERT_TRUE(key);
  std::vector<std::wstring> names, expected;
  for (const auto& value : ReadValues(key.get())) names.push_back(value.first);
  for (const auto& value : ExpectedValues(mainProgram, uninstaller, 15))
    expected.push_back(value.first);
  EXPECT_EQ(names, expected);
}

TEST_F(RegistrationTest, ExistingUninstallKeyKeepsForeignValuesAndIsBackedUp) {
  {
    const auto old = scratch_machine_key::create(HKEY_LOCAL_MACHINE, kKeyPath.c_str());
    nv_test::set_string_value(old.get(), L"Comments", L"left by 7.08u");
    nv_test::set_string_value(old.get(), L"DisplayVersion", L"7.8.21.9");
    const DWORD english = Languages::English;
    nv_test::set_raw_value(old.get(), L"NvLanguage", REG_DWORD, &english, sizeof english);
  }
  ASSERT_TRUE(engine::WriteUninstallKey(journal, mainProgram, uninstaller, Languages::German));

  const auto key = OpenMachineKey(kKeyPath);
  std::map<std::wstring, RegValue> values;
  for (auto& [name, value] : ReadValues(key.get())) values[name] = value;
  EXPECT_EQ(values.size(), 14u);  // the thirteen and the foreign one
  EXPECT_EQ(values[L"Comments"].data, StringValue(L"left by 7.08u").data);
  EXPECT_EQ(values[L"DisplayVersion"].data, StringValue(L"7.8.22.1").data);
  EXPECT_EQ(values[L"NvLanguage"].data, DwordValue(Languages::German).data);

  ASSERT_EQ(journal.records.size(), 1u);
  EXPECT_EQ(journal.records[0].kind, engine::RecordKind::UninstallKey);
  EXPECT_FALSE(journal.records[0].backupPath.empty()) << "an existing key is saved first";
  EXPECT_TRUE(journal.records[0].done);
}

TEST_F(RegistrationTest, MissingUninstallParentFailsWithoutJournalRecord) {
  EXPECT_FALSE(engine::WriteUninstallKey(journal, mainProgram, uninstaller, Languages::French));
  EXPECT_TRUE(journal.records.empty());
  EXPECT_FALSE(OpenMachineKey(kKeyPath));
}

// The release's package-manager manifest states InstalledProgram(); the package manager finds the
// product installed only when the key the installer writes is named and filled the same way.
TEST_F(RegistrationTest, UninstallKeyIsTheInstalledProgramEntry) {
  scratch_machine_key::create(HKEY_LOCAL_MACHINE, engine::uninstallKeyParent);
  ASSERT_TRUE(engine::WriteUninstallKey(journal, mainProgram, uninstaller, Languages::English));
  const auto entry = engine::InstalledProgram(nv::tessaline_7);
  const auto key =
      OpenMachineKey(std::wstring(engine::uninstallKeyParent) + L"\\" + entry.keyName);
  ASSERT_TRUE(key) << "no key named " << nv::to_utf8(entry.keyName);
  std::map<std::wstring, RegValue> values;
  for (auto& [name, value] : ReadValues(key.get())) values[name] = value;
  const std::pair<const wchar_t*, std::wstring> stated[] = {
      {L"DisplayName", entry.displayName},
      {L"Publisher", entry.publisher},
      {L"DisplayVersion", entry.displayVersion}};
  for (const auto& [name, text] : stated) {
    SCOPED_TRACE(testing::Message() << "value " << nv::to_utf8(name));
    EXPECT_EQ(values[name].type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(values[name].data, StringValue(text).data);
  }
  EXPECT_THROW(engine::InstalledProgram(0x0999), std::logic_error);
}

TEST_F(RegistrationTest, ProductPathValueIsCreatedAndOverwritten) {
  ASSERT_TRUE(engine::WriteProductPath(L"C:\\Old Place\\Tessaline.exe"));
  ASSERT_TRUE(engine::WriteProductPath(mainProgram));
  const auto key = OpenMachineKey(engine::makerKey);
  ASSERT_TRUE(key);
  const auto values = ReadValues(key.get());
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].first, L"Tessaline 7 Path");
  EXPECT_EQ(values[0].second.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(values[0].second.data, StringValue(mainProgram).data);
}

TEST(RegistrationCommandLine, BarePathWithoutBlankAndLongPathQuotedWhole) {
  EXPECT_EQ(engine::RegistrationCommandLine(L"C:\\Apps\\Tessaline.exe", 0),
            L"C:\\Apps\\Tessaline.exe /Register /Background");
  // Near the 260-character limit the path is still quoted as a whole.
  const std::wstring longPath = L"C:\\" + std::wstring(240, L'a') + L" b\\Tessaline.exe";
  const std::wstring quoted = engine::RegistrationCommandLine(longPath, 0);
  EXPECT_EQ(quoted.front(), L'"');
  EXPECT_EQ(quoted.find(L"\" /Register /Background"), longPath.size() + 1);
}

// --- The registration run with the product stand-in ----------------------------------------

struct ShellCall {
  LONG eventId;
  UINT flags;
  LPCVOID item1, item2;
  int waitCursors;
};
std::vector<ShellCall> shellCalls;

void WINAPI RecordShellNotify(LONG eventId, UINT flags, LPCVOID item1, LPCVOID item2) {
  shellCalls.push_back({eventId, flags, item1, item2, ui::wait_cursor::depth()});
}

fs::path OwnFolder() {
  wchar_t path[MAX_PATH];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(path).parent_path();
}

// What the stand-in wrote about each start, one map of "key: value" lines per start.
std::vector<std::map<std::string, std::wstring>> ReadRecords(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  std::vector<std::map<std::string, std::wstring>> records;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    const size_t colon = line.find(": ");
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon), value = line.substr(colon + 2);
    if (key == "command line") records.emplace_back();
    if (records.empty()) continue;
    records.back()[key] = nv::from_utf8(value);
  }
  return records;
}

class RegistrationRunTest : public RegistrationTest {
 protected:
  void SetUp() override {
    RegistrationTest::SetUp();
    productFolder = folder.path() / L"Nuvelle Tessaline 7";
    fs::create_directories(productFolder);
    product = productFolder / L"Tessaline.exe";
    fs::copy_file(OwnFolder() / L"Tessaline.exe", product);
    record = folder.path() / L"record.txt";
    ::SetEnvironmentVariableW(L"NV_STANDIN_RECORD", record.c_str());
    ::SetEnvironmentVariableW(L"NV_STANDIN_MUTEX", mutexName.c_str());
    ::SetEnvironmentVariableW(L"NV_STANDIN_EXIT", nullptr);
    ASSERT_TRUE(installerMutex.try_lock());
    shellCalls.clear();
    previousNotify = engine::SetShellNotifyFunction(&RecordShellNotify);
  }
  void TearDown() override {
    engine::SetShellNotifyFunction(previousNotify);
    for (const wchar_t* name : {L"NV_STANDIN_RECORD", L"NV_STANDIN_MUTEX", L"NV_STANDIN_EXIT"})
      ::SetEnvironmentVariableW(name, nullptr);
    RegistrationTest::TearDown();
  }

  // Starts the stand-in directly (not through the installer) and returns what it recorded.
  std::map<std::string, std::wstring> ProbeMutexFromAnotherProcess() {
    std::wstring commandLine = L"\"" + product.wstring() + L"\" /Register";
    STARTUPINFOW startup{sizeof startup};
    PROCESS_INFORMATION info{};
    ::SetEnvironmentVariableW(L"NV_STANDIN_EXIT", L"0");
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info))
      return {};
    const nv::unique_handle process(info.hProcess), thread(info.hThread);
    ::WaitForSingleObject(process.get(), 30000);
    ::SetEnvironmentVariableW(L"NV_STANDIN_EXIT", nullptr);
    auto records = ReadRecords(record);
    return records.empty() ? std::map<std::string, std::wstring>{} : records.back();
  }

  const std::wstring mutexName = nv_test::unique_name(L"NvRegistrationTest.");
  nv::named_mutex installerMutex{mutexName, false, true};
  fs::path productFolder, product, record;
  engine::ShellNotifyFunction previousNotify = nullptr;
};

TEST_F(RegistrationRunTest, UpdateRunsProductQuotedWithOlderVersionAndMutexFree) {
  ASSERT_TRUE(engine::RunProductRegistration(journal, product.wstring(),
                                             nv::make_version(7, 8, 21, 9), installerMutex));
  const auto records = ReadRecords(record);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].at("command line"),
            L"\"" + product.wstring() + L"\" /Register /Background /update=0007000800150009");
  EXPECT_TRUE(fs::equivalent(records[0].at("current folder"), productFolder));
  EXPECT_EQ(records[0].at("installer mutex"), L"free");

  // Taken back afterwards: another process now finds it held.
  EXPECT_TRUE(installerMutex.owned());
  EXPECT_EQ(ProbeMutexFromAnotherProcess()["installer mutex"], L"held");

  ASSERT_EQ(shellCalls.size(), 1u);
  EXPECT_EQ(shellCalls[0].eventId, SHCNE_ASSOCCHANGED);
  EXPECT_EQ(shellCalls[0].flags, static_cast<UINT>(SHCNF_FLUSH));
  EXPECT_EQ(shellCalls[0].item1, nullptr);
  EXPECT_EQ(shellCalls[0].item2, nullptr);
  EXPECT_EQ(shellCalls[0].waitCursors, 1) << "the hourglass shows during the notification";
  EXPECT_EQ(ui::wait_cursor::depth(), 0);

  ASSERT_EQ(journal.records.size(), 1u);
  EXPECT_EQ(journal.records[0].kind, engine::RecordKind::ProductRegistration);
  EXPECT_TRUE(journal.records[0].done);

  // A fresh installation or a reinstallation (no previous version) passes no "/update=".
  ASSERT_TRUE(engine::RunProductRegistration(journal, product.wstring(), 0, installerMutex));
  EXPECT_EQ(ReadRecords(record).back().at("command line"),
            L"\"" + product.wstring() + L"\" /Register /Background");
}

TEST_F(RegistrationRunTest, ExitCodeOtherThanMinusTenFailsWithoutShellNotification) {
  ::SetEnvironmentVariableW(L"NV_STANDIN_EXIT", L"0");
  EXPECT_FALSE(engine::RunProductRegistration(journal, product.wstring(), 0, installerMutex));
  EXPECT_EQ(ReadRecords(record).size(), 1u) << "the product did run";
  EXPECT_TRUE(shellCalls.empty());
  EXPECT_TRUE(installerMutex.owned());
  ASSERT_EQ(journal.records.size(), 1u);
  EXPECT_FALSE(journal.records[0].done);
}

// A product that a standard user could have replaced since it was written (its folder is one
// users may change) is not run elevated, and neither is a product that is not there.
TEST_F(RegistrationRunTest, ProductThatCannotStartOrIsNotTrustedFailsAndMutexIsTakenBack) {
  {
    const trust_test::planted_where planted(L"Nuvelle Tessaline 7");
    EXPECT_FALSE(engine::RunProductRegistration(journal, product.wstring(), 0, installerMutex));
  }
  EXPECT_TRUE(ReadRecords(record).empty()) << "the product ran from a folder users may change";
  EXPECT_FALSE(engine::RunProductRegistration(journal, (productFolder / L"Missing.exe").wstring(),
                                              0, installerMutex));
  journal.records.erase(journal.records.begin());
  EXPECT_TRUE(shellCalls.empty());
  EXPECT_TRUE(installerMutex.owned());
  ASSERT_EQ(journal.records.size(), 1u);
  EXPECT_EQ(journal.records[0].kind, engine::RecordKind::ProductRegistration);
  EXPECT_FALSE(journal.records[0].done);
  EXPECT_FALSE(journal.operationOpen);
}

// --- The product stand-in itself -------------------------------------------------------------

// Started plainly, the stand-in is "the product running": registered in the tracker the
// installer counts, with a window, until its lifetime ends.
TEST(ProductStandIn, PlainStartCountsInTheTrackerUntilItEnds) {
  const nv::instance_tracker own(nv::tracker_name(L"Tessaline7"));
  ASSERT_GE(own.running(), 1u);
  const std::uint32_t before = own.running();

  ::SetEnvironmentVariableW(L"NV_STANDIN_LIFETIME_MS", L"3000");
  std::wstring commandLine = L"\"" + (OwnFolder() / L"Tessaline.exe").wstring() + L"\"";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &info);
  ::SetEnvironmentVariableW(L"NV_STANDIN_LIFETIME_MS", nullptr);
  ASSERT_TRUE(started);
  const nv::unique_handle process(info.hProcess), thread(info.hThread);

  bool counted = false, window = false;
  for (int i = 0; i < 100 && !(counted && window); ++i) {
    counted = counted || own.running() == before + 1;
    window = window || ::FindWindowW(L"NvTessalineStandIn", L"Tessaline") != nullptr;
    ::Sleep(20);
  }
  EXPECT_TRUE(counted);
  EXPECT_TRUE(window);
  EXPECT_EQ(::WaitForSingleObject(process.get(), 15000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  ::GetExitCodeProcess(process.get(), &exitCode);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_EQ(own.running(), before);
}

}  // namespace
