#include <gtest/gtest.h>

#include "messaging/json_reader.h"
#include "platform/errors.h"
#include "platform/text.h"
#include "support/log_capture.h"

using namespace tav::messaging;

namespace {

std::string Failure(std::u16string_view body, std::size_t position = 1) {
  try {
    TextoDoCampo(LeRequisicaoJSon(body), position);
    return "none";
  } catch (const tav::Error &e) {
    return e.what();
  }
}

}  // namespace

TEST(JsonReader, FieldTexts) {
  struct Row { const char *name; std::u16string body; std::u16string one, two; };
  const Row rows[] = {
      {"plain", u"{\"a\":\"ENVIARWHATSAPP\",\"f\":\"+55 (11) 9999-0000\",\"m\":\"Ola, tudo bem?\"}", u"+55 (11) 9999-0000", u"Ola, tudo bem?"},
      {"same keys", u"{\"k\":0,\"k\":\"x\",\"k\":\"y\"}", u"x", u"y"},
      {"solidus and backslash", u"{\"a\":0,\"b\":\"a/b\",\"c\":\"a\\\\b\"}", u"a\\/b", u"a\\\\b"},
      {"quote becomes a lone backslash", u"{\"a\":0,\"b\":\"diz \\\"oi\\\"\",\"c\":\"\"}", u"diz \\oi\\", u""},
      {"raw and escaped line breaks", u"{\"a\":0,\"b\":\"l1\nl2\tx\",\"c\":\"r\\r\\n\"}", u"l1\\nl2\\tx", u"r\\r\\n"},
      {"accents written raw", u"{\"a\":0,\"b\":\"Ação É\",\"c\":\"中\"}", u"Acao E", u"?"},
      {"escape above U+007F", u"{\"a\":0,\"b\":\"\\u00e7\",\"c\":\"\\ud83d\"}", u"\\u00E7", u"\\uD83D"},
      {"numbers as written", u"{\"a\":0,\"b\":-1.50e+3,\"c\":0}", u"-1.50e+3", u"0"},
      {"literals", u"{\"a\":0,\"b\":true,\"c\":null}", u"true", u"null"},
      {"nested", u"{\"a\":0,\"b\":{\"x\": [1, \"y\", {}]},\"c\":[]}", u"{x:[1,y,{}]}", u"[]"},
      {"control and DEL", u"{\"a\":0,\"b\":\"\x01\x7F\",\"c\":\"\\b\\f\"}", u"\\u0001\x7F", u"\\b\\f"},
      {"trailing CR LF", u"  {\"a\":0,\"b\":1,\"c\":2}\r\n  ", u"1", u"2"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    const JsonValue request = LeRequisicaoJSon(row.body);
    EXPECT_EQ(TextoDoCampo(request, 1), row.one);
    EXPECT_EQ(TextoDoCampo(request, 2), row.two);
  }
}

TEST(JsonReader, Failures) {
  struct Row { const char *name; std::u16string body; std::string message; };
  const Row rows[] = {
      {"array", u"[1,2,3]", "Invalid class typecast"},
      {"string", u"\"x\"", "Invalid class typecast"},
      {"number", u"12", "Invalid class typecast"},
      {"one member", u"{\"a\":1}", "Argument out of range"},
      {"empty", u"", "invalid JSON at byte 0: the body is empty, found the end of the body"},
      {"second object", u"{\"a\":1} {}", "invalid JSON at byte 8: unexpected data after the JSON value, found '{'"},
      {"scalar then blank", u"12 ", "invalid JSON at byte 2: unexpected data after the JSON value, found ' '"},
      {"trailing comma", u"{\"a\":1,}", "invalid JSON at byte 7: expected a string as object key, found '}'"},
      {"missing colon", u"{\"a\" 1}", "invalid JSON at byte 5: expected ':' after object key, found '1'"},
      {"bad escape", u"{\"a\":\"\\x\"}", "invalid JSON at byte 7: invalid escape, found 'x'"},
      {"short unicode escape", u"{\"a\":\"\\u12\"}", "invalid JSON at byte 10: expected four hexadecimal digits after \\u, found '\"'"},
      {"leading zero", u"{\"a\":01}", "invalid JSON at byte 6: a number may not start with 0 followed by a digit"},
      {"bare fraction", u"{\"a\":1.}", "invalid JSON at byte 7: expected a digit after the decimal point, found '}'"},
      {"upper-case literal", u"{\"a\":TRUE}", "invalid JSON at byte 5: expected a value, found 'T'"},
      {"unterminated", u"{\"a\":\"x", "invalid JSON at byte 7: unterminated string, found the end of the body"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Failure(row.body), row.message);
  }
}

TEST(JsonReader, NestingLimit) {
  // The top-level object is level 1; each array inside "b" adds one.
  const auto nested = [](int levels) {
    const std::u16string open(static_cast<std::size_t>(levels - 1), u'['), close(static_cast<std::size_t>(levels - 1), u']');
    return u"{\"a\":0,\"b\":" + open + u"1" + close + u"}";
  };
  EXPECT_EQ(Failure(nested(512)), "none");
  EXPECT_EQ(Failure(nested(513)), "invalid JSON at byte 522: nested deeper than 512 levels");
}
