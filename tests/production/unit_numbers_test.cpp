// The unit-number counter and list files: numbers in order across a reopen, a refused number
// not used up, two processes sharing one counter, and a process killed while taking numbers.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "production/unit_numbers.h"
#include "support/test_files.h"

namespace vantor::production {
namespace {

namespace fs = std::filesystem;

const UnitNumbers::Fits kAny = [](std::uint64_t, std::string&) { return true; };

class UnitNumbersTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return (m_dir / name).string(); }

  static std::uint64_t Take(UnitNumbers& numbers) {
    std::uint64_t number = 0;
    std::string error;
    EXPECT_TRUE(numbers.Take(kAny, number, error)) << error;
    return number;
  }
  // A child taking numbers from the counter and writing each to `fd` once it is handed out.
  pid_t Taker(int fd, int count) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      std::string error;
      auto counter = OpenUnitCounter(Path("counter"), 1000, 3, error);
      for (int i = 0; counter && (count == 0 || i < count); ++i) {
        std::uint64_t number = 0;
        if (!counter->Take(kAny, number, error) ||
            ::write(fd, &number, sizeof number) != static_cast<ssize_t>(sizeof number))
          ::_exit(1);
      }
      ::_exit(0);
    }
    return pid;
  }
  static std::vector<std::uint64_t> ReadNumbers(int fd) {
    std::vector<std::uint64_t> numbers;
    std::uint64_t number = 0;
    while (::read(fd, &number, sizeof number) == static_cast<ssize_t>(sizeof number))
      numbers.push_back(number);
    return numbers;
  }

  vantor::testing::TempFolder m_folder;
  const fs::path m_dir = m_folder.path();
};

TEST_F(UnitNumbersTest, CounterGoesOnAcrossReopenAndNeverBack) {
  std::string error;
  std::uint64_t number = 0;
  EXPECT_FALSE(OpenUnitCounter(Path("counter"), std::nullopt, 1, error)->Peek(number, error));
  EXPECT_NE(error.find("--serial-start"), std::string::npos) << error;
  {
    auto counter = OpenUnitCounter(Path("counter"), 100, 5, error);
    EXPECT_EQ(Take(*counter), 100u);
    EXPECT_EQ(Take(*counter), 105u);
    // A number the place refuses is not used up.
    EXPECT_FALSE(counter->Take([](std::uint64_t, std::string& e) { return e = "no", false; },
                               number, error));
    EXPECT_EQ(Take(*counter), 110u);
  }
  // A lower start does not take the counter back; a higher one moves it on.
  EXPECT_EQ(Take(*OpenUnitCounter(Path("counter"), 1, 5, error)), 115u);
  EXPECT_EQ(Take(*OpenUnitCounter(Path("counter"), std::nullopt, 1, error)), 120u);
  EXPECT_EQ(Take(*OpenUnitCounter(Path("counter"), 500, 1, error)), 500u);
  // A file that holds something else is an error, not a fresh start.
  vantor::testing::WriteFileText(Path("counter"), "garbage\n");
  EXPECT_FALSE(OpenUnitCounter(Path("counter"), 1, 1, error)->Take(kAny, number, error));
  EXPECT_NE(error.find("does not hold a number"), std::string::npos) << error;
}

TEST_F(UnitNumbersTest, ListIsUsedInOrderOnceAcrossReopen) {
  vantor::testing::WriteFileText(Path("list"), "# units\n7\n0x10\n\n3\n");
  std::string error;
  EXPECT_EQ(Take(*OpenUnitList(Path("list"), error)), 7u);
  auto list = OpenUnitList(Path("list"), error);
  EXPECT_EQ(Take(*list), 16u);
  EXPECT_EQ(Take(*list), 3u);
  std::uint64_t number = 0;
  EXPECT_FALSE(list->Take(kAny, number, error));
  EXPECT_NE(error.find("every value"), std::string::npos) << error;
  vantor::testing::WriteFileText(Path("twice"), "1\n2\n1\n");
  EXPECT_EQ(OpenUnitList(Path("twice"), error), nullptr);
  EXPECT_NE(error.find("listed twice"), std::string::npos) << error;
  vantor::testing::WriteFileText(Path("bad"), "1\n-2\n");
  EXPECT_EQ(OpenUnitList(Path("bad"), error), nullptr);
}

// Two processes on one counter at once: every number once, on the counter's step.
TEST_F(UnitNumbersTest, TwoProcessesNeverShareANumber) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t a = Taker(fds[1], 200);
  const pid_t b = Taker(fds[1], 200);
  ::close(fds[1]);
  const auto numbers = ReadNumbers(fds[0]);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(a, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ::waitpid(b, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  ASSERT_EQ(numbers.size(), 400u);
  const std::set<std::uint64_t> unique(numbers.begin(), numbers.end());
  EXPECT_EQ(unique.size(), 400u);
  EXPECT_EQ(*unique.begin(), 1000u);
  EXPECT_EQ(*unique.rbegin(), 1000u + 399 * 3);
}

// SIGKILL while numbers are being taken: the next run starts above every number handed out.
TEST_F(UnitNumbersTest, KilledTakerLeavesNoNumberToHandOutAgain) {
  for (int round = 0; round < 3; ++round) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = Taker(fds[1], 0);
    ::close(fds[1]);
    std::vector<std::uint64_t> seen;
    std::uint64_t number = 0;
    while (seen.size() < 100u + round * 37 &&
           ::read(fds[0], &number, sizeof number) == static_cast<ssize_t>(sizeof number))
      seen.push_back(number);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    for (const auto more : ReadNumbers(fds[0]))
      seen.push_back(more);
    ::close(fds[0]);
    ASSERT_GE(seen.size(), 100u);
    std::string error;
    auto counter = OpenUnitCounter(Path("counter"), 1000, 3, error);
    std::uint64_t next = 0;
    ASSERT_TRUE(counter->Peek(next, error)) << error;
    EXPECT_GT(next, *std::max_element(seen.begin(), seen.end())) << "round " << round;
  }
}

}  // namespace
}  // namespace vantor::production
