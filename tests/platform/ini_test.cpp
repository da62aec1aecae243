#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "support/log_capture.h"
#include "support/portable.h"

using tav::IniFile;

TEST(Ini, PrivateProfileRules) {
  const IniFile ini = IniFile::FromBytes(
      "; comment\r\n[outra]\r\nPORTA=1\r\n[ servidor ]\r\n  porta =  \"9090\"  \r\nsenha=a=b=c\r\n"
      "q1='x'\r\nq2=\"x'\r\nblank=\r\n[SERVIDOR]\r\nPORTA=7\r\nsoaqui=2\r\n[gerais]\r\nINICIARAUTO = S \r\n");
  struct Row { const char16_t *section, *key, *fallback, *value; };
  const Row rows[] = {
      {u"SERVIDOR", u"PORTA", u"8080", u"9090"},     // case, blanks, quotes; first section wins
      {u"Servidor", u"SENHA", u"", u"a=b=c"},         // only the first "=" separates
      {u"SERVIDOR", u"q1", u"", u"x"},
      {u"SERVIDOR", u"q2", u"", u"\"x'"},             // quotes must match
      {u"SERVIDOR", u"blank", u"d", u""},
      {u"SERVIDOR", u"soaqui", u"d", u"d"},           // a second section of the same name is not read
      {u"SERVIDOR", u"ausente", u"8080", u"8080"},
      {u"nenhuma", u"PORTA", u"8080", u"8080"},
      {u"GERAIS", u"iniciarauto", u"", u"S"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(tav::text::ToUtf8(row.key));
    EXPECT_EQ(ini.Get(row.section, row.key, row.fallback), row.value);
  }
}

TEST(Ini, Utf16AndAnsiAndLongValues) {
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : std::u16string(u"[LOG]\r\nAtivo=sim ção\r\n")) {
    utf16.push_back(static_cast<char>(c & 0xFF));
    utf16.push_back(static_cast<char>(c >> 8));
  }
  EXPECT_EQ(IniFile::FromBytes(utf16).Get(u"log", u"ATIVO", u""), u"sim ção");
  EXPECT_EQ(IniFile::FromBytes("[a]\nk=\xE7\x80\n").Get(u"a", u"k", u""), u"ç€");
  const std::string longValue(3000, 'v');
  EXPECT_EQ(IniFile::FromBytes("[a]\nk=" + longValue + "\n").Get(u"a", u"k", u"").size(), 2047u);
}

TEST(Ini, FilesResolveWithoutRegardToCase) {
  const auto dir = std::filesystem::temp_directory_path() / ("ini_test_" + std::to_string(tav::testing::ProcessId()));
  std::filesystem::create_directories(dir);
  tav::files::WriteAll(tav::text::FromUtf8((dir / "DozUzedoda.ini").string()), "[LOG]\nAtivo=SIM\n");
  const std::u16string upper = tav::text::FromUtf8((dir / "DOZUZEDODA.INI").string());
  EXPECT_TRUE(tav::files::Exists(upper));
  EXPECT_EQ(tav::ReadIniString(upper, u"LOG", u"Ativo", u""), u"SIM");
  EXPECT_EQ(tav::ReadIniString(tav::text::FromUtf8((dir / "missing.ini").string()), u"LOG", u"Ativo", u"def"), u"def");
  std::filesystem::remove_all(dir);
}
