#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "payload/payload_test_support.h"

namespace {

using namespace payload_test;

bool inside(const fs::path& p, const fs::path& folder) {
  const auto rel = fs::absolute(p).lexically_normal().lexically_relative(folder.lexically_normal());
  return !rel.empty() && *rel.begin() != L"..";
}

// Damaged archives (bit flips, truncations, appended bytes) either fail verification or fail
// extraction with a code; none crashes or writes outside the target folder, and a run that
// succeeds despite the damage produced exactly the original files.
TEST(PayloadCorruption, SeededDamageAlwaysEndsInAReportedFailure) {
  std::mt19937 gen(20261209);
  std::vector<test_file> files;
  for (int i = 0; i < 4; ++i) {
    std::string content(1500 + 2500 * i, '\0');
    for (auto& c : content) c = static_cast<char>("abcdefgh"[gen() % 8]);
    files.push_back({L"dir\\f" + std::to_wstring(i) + L".txt",
                     i % 2 ? L"<InstallPath>\\sub" : L"<Temporary>", content, engine::PayloadKind::Sample});
  }
  const std::string good = bzip2(plain_archive(files));

  scratch_folder scratch;
  // Relative (token-less) destinations read from a damaged table land in the scratch folder.
  const fs::path previous_cwd = fs::current_path();
  fs::current_path(scratch.path());

  int verify_failures = 0, extract_failures = 0, harmless = 0, escapes = 0;
  constexpr int runs = 240;
  for (int run = 0; run < runs; ++run) {
    std::string damaged = good;
    const int how = run % 3;
    if (how == 0) {
      const std::size_t at = gen() % damaged.size();
      damaged[at] = static_cast<char>(damaged[at] ^ (1 << (gen() % 8)));
    } else if (how == 1) {
      damaged.resize(gen() % damaged.size());
    } else {
      for (std::size_t n = 1 + gen() % 16; n > 0; --n) damaged.push_back(static_cast<char>(gen()));
    }
    SCOPED_TRACE("run " + std::to_string(run) + " kind " + std::to_string(how));

    const fs::path install = scratch.path() / (L"run" + std::to_wstring(run));
    recorder rec;
    rec.answer = [&](const event& e, std::size_t) {
      if (e.kind == ev_begin && !inside(e.path, scratch.path())) {
        ++escapes;
        return engine::notification::result::skip;
      }
      return engine::notification::result::proceed;
    };
    std::istringstream verify_in(damaged);
    const bool verified = engine::verify_payload(verify_in);
    const bool extracted = extract(damaged, install, rec);

    if (!verified) ++verify_failures;
    if (extracted) {
      ++harmless;
      EXPECT_TRUE(verified);
      const fs::path folders[] = {install / L"tmp", install / L"sub"};
      for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(read_file(folders[i % 2] / (L"f" + std::to_wstring(i) + L".txt")), files[i].content);
    } else {
      ++extract_failures;
      ASSERT_EQ(rec.count(ev_failed), 1u);
      EXPECT_NE(rec.failure()->code.value(), 0);
      EXPECT_EQ(rec.count(ev_finished), 0u);
    }
    fs::remove_all(install);
  }
  fs::current_path(previous_cwd);

  // Every file a damaged table named outside the scratch folder was refused at its file_begin,
  // so nothing was created there. (The shared temporary folder itself cannot be compared before
  // and after: other test programs run at the same time and create their own folders in it.)
  EXPECT_EQ(escapes, 0);
  EXPECT_EQ(verify_failures + harmless, runs) << "a damaged archive that failed verification was extracted";
  EXPECT_GE(extract_failures, runs * 9 / 10);
}

}  // namespace
