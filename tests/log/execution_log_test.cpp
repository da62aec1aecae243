#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "log/execution_log.h"
#include "support/log_capture.h"

using tav::LocalTime;
using tav::log::ExecutionLog;

namespace {
LocalTime Fixed() { return LocalTime{2024, 12, 9, 14, 3, 27}; }
}

TEST(ExecutionLog, DropsTextsWhileInactive) {
  ExecutionLog log(Fixed);
  log.RegistraLog(u"antes");
  log.SetActive(true);
  log.RegistraLog(u"durante");
  log.SetActive(false);
  log.RegistraLog(u"depois");
  log.RegistraLogErro(u"X()", u"0", u"falha");
  log.SetActive(true);
  EXPECT_EQ(log.Entries(), std::vector<std::u16string>{u"14:03:27 durante"});
}

TEST(ExecutionLog, ErrorBlockIsSevenLinesWithTwoRules) {
  tav::Regional regional;  // dd/MM/yyyy and hh:nn:ss
  ExecutionLog log(Fixed, &regional);
  log.SetActive(true);
  log.RegistraLogErro(u"StartServer()", u"0", u"'' is not a valid integer value");
  const std::u16string rule(61, u'=');
  EXPECT_EQ(log.Entries().at(0), u"14:03:27 " + rule +
                                     u"\r\n  Data.........: 09/12/2024"
                                     u"\r\n  Hora.........: 14:03:27"
                                     u"\r\n  Rotina.......: StartServer()"
                                     u"\r\n  Bloco........: 0"
                                     u"\r\n  Falha........: '' is not a valid integer value\r\n" +
                                     rule);
}

TEST(ExecutionLog, MultiLineTextIsOneEntryAndClearKeepsSequence) {
  ExecutionLog log(Fixed);
  log.SetActive(true);
  log.RegistraLog(u"a\r\nb");
  const auto first = log.Read(0);
  EXPECT_EQ(first.entries, std::vector<std::u16string>{u"14:03:27 a\r\nb"});
  log.Clear();
  log.RegistraLog(u"c");
  const auto second = log.Read(first.next);
  EXPECT_EQ(second.entries, std::vector<std::u16string>{u"14:03:27 c"});
  EXPECT_EQ(log.Read(second.next).entries.size(), 0u);
}

// Appends from many threads: nothing lost, each thread's entries in its own order;
// the listener is woken once for all of them, since nobody read meanwhile.
TEST(ExecutionLog, ConcurrentAppendsKeepOrderPerThread) {
  ExecutionLog log(Fixed);
  log.SetActive(true);
  std::atomic<int> notified{0};
  log.SetListener([&] { notified.fetch_add(1, std::memory_order_relaxed); });
  constexpr int kThreads = 8, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&log, t] {
      for (int i = 0; i < kEach; ++i)
        log.RegistraLog(std::u16string(1, static_cast<char16_t>(u'A' + t)) + tav::testing_number(i));
    });
  for (auto &th : threads) th.join();
  log.SetListener({});
  const auto entries = log.Entries();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(notified.load(), 1);
  std::vector<int> next(kThreads, 0);
  for (const auto &e : entries) {
    const int t = e[9] - u'A';
    EXPECT_EQ(e.substr(10), tav::testing_number(next[t]++));
  }
}

// The newest entries are kept up to either bound; the reader learns how many lines
// it never got; a Read ends the pending wake-up; Clear starts the count again.
TEST(ExecutionLog, BoundsDropTheOldestAndSayHowMany) {
  ExecutionLog log(Fixed);
  log.SetActive(true);
  int wakeUps = 0;
  log.SetListener([&] { ++wakeUps; });
  log.SetBounds({5, 1 << 20});
  auto batch = log.Read(0);
  for (int i = 0; i < 3; ++i) log.RegistraLog(u"a" + tav::testing_number(i));
  log.RegistraLog(u"b1\r\nb2");  // one entry, two lines
  EXPECT_EQ(wakeUps, 1);
  batch = log.Read(batch.next);
  EXPECT_EQ(batch.entries.size(), 4u);
  EXPECT_EQ(batch.skippedLines, 0u);
  for (int i = 0; i < 4; ++i) log.RegistraLog(u"c" + tav::testing_number(i));
  EXPECT_EQ(wakeUps, 2);
  // 5 lines at most: c0..c3 with b's two-line entry would be 6, so b goes too; the
  // reader had got a0..a2 and b, so it skipped nothing.
  const std::vector<std::u16string> newest{u"14:03:27 c0", u"14:03:27 c1", u"14:03:27 c2", u"14:03:27 c3"};
  batch = log.Read(batch.next);
  EXPECT_EQ(batch.entries, newest);
  EXPECT_EQ(batch.skippedLines, 0u);
  EXPECT_EQ(log.Entries(), newest);

  ExecutionLog bytes(Fixed);
  bytes.SetActive(true);
  bytes.SetBounds({1000, 3 * 12 * sizeof(char16_t)});  // three entries of 12 units
  auto window = bytes.Read(0);
  for (int i = 0; i < 5; ++i) bytes.RegistraLog(u"abc");
  window = bytes.Read(window.next);
  EXPECT_EQ(window.entries.size(), 3u);
  EXPECT_EQ(window.skippedLines, 2u);  // two lines went before this reader got them
  bytes.Clear();
  bytes.RegistraLog(u"x");
  window = bytes.Read(window.next);
  EXPECT_EQ(window.entries.size(), 1u);
  EXPECT_EQ(window.skippedLines, 0u);
  log.SetListener({});
}
