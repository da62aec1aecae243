#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "messaging/intake.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "support/read_file.h"
#include "support/log_capture.h"
#include "support/portable.h"

using namespace tav::messaging;
namespace fs = std::filesystem;

using tav::testing::ReadFile;

namespace {

class Intake : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("intake_" + std::to_string(tav::testing::ProcessId()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    options_.directory = tav::text::FromUtf8(dir_.string());
    options_.regional = &regional_;
    options_.clock = [this] {
      tav::LocalTime t{2024, 12, 9, 14, 30, 5};
      t.second += ticks_++ * tickSeconds_;
      return t;
    };
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all);
    fs::remove_all(dir_);
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto &e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }

  fs::path dir_;
  tav::Regional regional_;
  IntakeOptions options_;
  std::atomic<int> ticks_{0};
  int tickSeconds_ = 0;
};

}  // namespace

TEST_F(Intake, StatusQueryStoresNothing) {
  EXPECT_EQ(ProcessaRequisicao(u"{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"CONSULTARSTATUS\"}", options_), 200);
  EXPECT_TRUE(Files().empty());
  for (const char16_t *other : {u"consultarstatus", u" CONSULTARSTATUS", u"CONSULTARSTATUS "}) {
    ProcessaRequisicao(std::u16string(u"{\"a\":0,\"b\":\"") + other + u"\"}", options_);
  }
  EXPECT_EQ(Files().size(), 3u);
}

TEST_F(Intake, NameAndContentBytes) {
  tickSeconds_ = 1;  // the clock passes to the next second between the two readings
  const std::u16string body = u"{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"Ação\"}";
  EXPECT_EQ(ProcessaRequisicao(body, options_), 200);
  EXPECT_EQ(Files(), std::set<std::string>{"09122024_143005_.txt"});
  EXPECT_EQ(ReadFile(dir_ / "09122024_143005_.txt"),
            "Informa\xE7\xE3o recebida em 09/12/2024_14:30:06\r\n{\"a\":\"VUZEDAVODOZUZODOVE\",\"b\":\"A\xE7\xE3o\"}");
}

TEST_F(Intake, ErrorsTouchNoFile) {
  EXPECT_THROW(ProcessaRequisicao(u"{\"a\":\"VUZEDAVODOZUZODOVE\"}", options_), tav::Error);
  EXPECT_THROW(ProcessaRequisicao(u"VUZEDAVODOZUZODOVE", options_), tav::Error);
  EXPECT_TRUE(Files().empty());
#if !defined(_WIN32)
  if (::geteuid() != 0) {  // root writes anywhere
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    try {
      ProcessaRequisicao(u"{\"a\":0,\"b\":1}", options_);
      ADD_FAILURE() << "expected an input/output error";
    } catch (const tav::IoError &e) {
      EXPECT_NE(std::string(e.what()).find("Permission denied"), std::string::npos) << e.what();
    }
  }
#endif
  options_.directory = u"/no/such/folder";
  EXPECT_THROW(ProcessaRequisicao(u"{\"a\":0,\"b\":1}", options_), tav::IoError);
}

TEST_F(Intake, ConcurrentCommunicationsInOneSecondEachGetAFile) {
  constexpr int kRequests = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = t; i < kRequests; i += 8)
        ProcessaRequisicao(u"{\"a\":0,\"n\":" + tav::text::Ascii(std::to_string(i)) + u"}", options_);
    });
  for (auto &th : threads) th.join();
  const auto names = Files();
  ASSERT_EQ(names.size(), static_cast<std::size_t>(kRequests));
  EXPECT_TRUE(names.count("09122024_143005_.txt"));
  EXPECT_TRUE(names.count("09122024_143005_199.txt"));
  std::set<std::string> bodies;
  for (const auto &name : names) {
    const std::string content = ReadFile(dir_ / name);
    ASSERT_EQ(content.rfind("Informa\xE7\xE3o recebida em 09/12/2024_14:30:05\r\n{\"a\":0,\"n\":", 0), 0u) << name;
    bodies.insert(content);
  }
  EXPECT_EQ(bodies.size(), static_cast<std::size_t>(kRequests));  // nothing overwritten
}
