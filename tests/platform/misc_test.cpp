#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <filesystem>

#include "platform/bstr.h"
#include "platform/dynlib.h"
#include "platform/errors.h"
#include "platform/fileversion.h"
#include "platform/files.h"
#include "platform/strconv.h"
#include "platform/text.h"
#include "support/log_capture.h"
#include "support/portable.h"

TAV_VERSION_NOTE(10, 2, 3, 4, 1, 2, 0, 0);

TEST(Integers, DelphiNotation) {
  struct Row { const char *text; std::optional<std::int64_t> value; };
  const Row rows[] = {
      {"8080", 8080}, {"  8080", 8080}, {"+12", 12}, {"-1", -1},  {"$1F90", 0x1F90}, {"x1f90", 0x1F90},
      {"0X1F90", 0x1F90}, {"", std::nullopt}, {"abc", std::nullopt}, {"80 ", std::nullopt},
      {"$", std::nullopt}, {"--1", std::nullopt}, {"99999999999999999999999", std::nullopt},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(tav::ParseInteger(std::string_view(row.text), INT64_MIN, INT64_MAX), row.value);
  }
  EXPECT_EQ(tav::ParseInteger(std::string_view("70000"), 0, 65535), std::nullopt);
}

TEST(Bstr, LayoutAndOwnership) {
  tav::Bstr b(u"abc");
  ASSERT_NE(b.get(), nullptr);
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<unsigned char *>(b.get()) - 4, 4);
  EXPECT_EQ(prefix, 6u);
  EXPECT_EQ(b.get()[3], u'\0');
  EXPECT_EQ(b.text(), u"abc");
  EXPECT_EQ(tav::Bstr(u"").get(), nullptr);  // empty text travels as null
  EXPECT_EQ(tav::BstrToText(nullptr), u"");
}

TEST(FileVersion, ReadsTheEmbeddedNoteAndRefusesFilesWithout) {
  EXPECT_EQ(tav::RetornaVersao(tav::files::ExecutablePath()), u"10.2.3.4");
  const auto plain = std::filesystem::temp_directory_path() / "no_version.txt";
  tav::files::WriteAll(tav::text::FromUtf8(plain.string()), "not an executable");
  EXPECT_THROW(tav::RetornaVersao(tav::text::FromUtf8(plain.string())), tav::Error);
  EXPECT_THROW(tav::RetornaVersao(u"/no/such/file"), tav::Error);
  std::filesystem::remove(plain);
}

TEST(DynamicLibrary, MissingFileAndSymbols) {
  std::string reason;
  auto missing = tav::DynamicLibrary::Open("/no/such/lib.so", &reason);
  EXPECT_FALSE(missing.loaded());
  EXPECT_EQ(missing.value(), 0u);
  EXPECT_FALSE(reason.empty());
#if defined(_WIN32)
  auto libc = tav::DynamicLibrary::Open("kernel32.dll");
  ASSERT_TRUE(libc.loaded());
  EXPECT_NE(libc.symbol("lstrlenW"), nullptr);
#else
  auto libc = tav::DynamicLibrary::Open("libc.so.6");
  ASSERT_TRUE(libc.loaded());
  EXPECT_NE(libc.symbol("strlen"), nullptr);
#endif
  EXPECT_EQ(libc.symbol("NoSuchExport"), nullptr);
  auto moved = std::move(libc);
  EXPECT_FALSE(libc.loaded());
  EXPECT_TRUE(moved.close());
}

TEST(Errors, NestedCausesJoinWithCrLf) {
  try {
    try {
      throw tav::Error("inner");
    } catch (...) {
      std::throw_with_nested(tav::Error("outer"));
    }
  } catch (const std::exception &e) {
    EXPECT_EQ(tav::ErrorText(e), u"outer\r\ninner");
  }
}

#if defined(_WIN32)
TEST(Files, ANewFileMayBeReadButNotWrittenByOthers) {
  const auto path = std::filesystem::temp_directory_path() / "new_file_sharing.txt";
  std::filesystem::remove(path);
  const std::u16string name = tav::text::FromUtf8(path.string());
  auto file = tav::files::CreateNew(name);
  ASSERT_TRUE(file.has_value());
  EXPECT_FALSE(tav::files::CreateNew(name).has_value());  // the name is taken
  const auto *wide = reinterpret_cast<const wchar_t *>(name.c_str());
  HANDLE reader = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  HANDLE writer = CreateFileW(wide, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  file->WriteAndClose("bytes");
  EXPECT_EQ(tav::files::ReadAll(name), std::optional<std::string>("bytes"));
  std::filesystem::remove(path);
}
#endif

TEST(Files, NumberedNamesNeverReplaceAFile) {
  const auto folder = std::filesystem::temp_directory_path() / ("numbered_" + std::to_string(tav::testing::ProcessId()));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::u16string stem = tav::files::Join(tav::text::FromUtf8(folder.string()), u"LogExecucao_X");
  tav::files::WriteAll(stem + u".txt", "first");
  tav::files::WriteAll(stem + u"_2.txt", "third");
  const char *const expected[] = {"LogExecucao_X_1.txt", "LogExecucao_X_3.txt", "LogExecucao_X_4.txt"};
  for (const char *name : expected) {
    auto made = tav::files::CreateNumbered(stem, u"_", u".txt");
    EXPECT_EQ(std::filesystem::path(tav::text::ToUtf8(made.path)).filename().string(), name);
    made.file.WriteAndClose(name);
  }
  EXPECT_EQ(tav::files::ReadAll(stem + u".txt"), std::optional<std::string>("first"));
  EXPECT_EQ(tav::files::ReadAll(stem + u"_2.txt"), std::optional<std::string>("third"));
  std::filesystem::remove_all(folder);
}
