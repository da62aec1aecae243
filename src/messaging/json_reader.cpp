#include "messaging/json_reader.h"

#include <string>

#include "platform/errors.h"
#include "platform/strconv.h"
#include "platform/text.h"

namespace tav::messaging {
namespace {

constexpr int kMaxDepth = 512;

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  JsonValue Document() {
    SkipWhitespace();
    JsonValue value = Value(1);
    const bool container = value.kind == JsonValue::Kind::Object || value.kind == JsonValue::Kind::Array;
    // Whitespace may follow an object or array; nothing may follow a scalar.
    if (container) SkipWhitespace();
    if (pos_ != s_.size()) Fail("unexpected data after the JSON value", true);
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string &what, bool found = false) const {
    std::string message = "invalid JSON at byte " + std::to_string(pos_) + ": " + what;
    if (found) {
      if (pos_ < s_.size()) {
        const char c = s_[pos_];
        if (c >= 0x20 && c < 0x7F) message += std::string(", found '") + c + "'";
        else message += ", found byte " + std::to_string(static_cast<unsigned char>(c));
      } else {
        message += ", found the end of the body";
      }
    }
    throw InvalidRequest(message);
  }

  void SkipWhitespace() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n')) ++pos_;
  }

  bool Eat(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  JsonValue Value(int depth) {
    if (pos_ >= s_.size()) Fail(depth == 1 && s_.empty() ? "the body is empty" : "expected a value", true);
    switch (s_[pos_]) {
      case '{': return Object(depth);
      case '[': return Array(depth);
      case '"': {
        JsonValue v;
        v.kind = JsonValue::Kind::String;
        v.text = String();
        return v;
      }
      case 't': return Literal("true", JsonValue::Kind::True);
      case 'f': return Literal("false", JsonValue::Kind::False);
      case 'n': return Literal("null", JsonValue::Kind::Null);
      default:
        if (s_[pos_] == '-' || (s_[pos_] >= '0' && s_[pos_] <= '9')) return Number();
        Fail("expected a value", true);
    }
  }

  JsonValue Literal(std::string_view word, JsonValue::Kind kind) {
    if (s_.substr(pos_, word.size()) != word) Fail("expected '" + std::string(word) + "'", true);
    pos_ += word.size();
    JsonValue v;
    v.kind = kind;
    return v;
  }

  JsonValue Number() {
    const std::size_t start = pos_;
    const auto digits = [&] {
      const std::size_t from = pos_;
      while (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') ++pos_;
      return pos_ > from;
    };
    Eat('-');
    if (Eat('0')) {
      if (pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '9') Fail("a number may not start with 0 followed by a digit");
    } else if (!digits()) {
      Fail("expected a digit", true);
    }
    if (Eat('.') && !digits()) Fail("expected a digit after the decimal point", true);
    if (pos_ < s_.size() && (s_[pos_] == 'e' || s_[pos_] == 'E')) {
      ++pos_;
      if (!Eat('+')) Eat('-');
      if (!digits()) Fail("expected a digit in the exponent", true);
    }
    JsonValue v;
    v.kind = JsonValue::Kind::Number;
    v.text = text::Ascii(s_.substr(start, pos_ - start));
    return v;
  }

  static int Hex(char c) { return HexDigitValue(static_cast<unsigned char>(c)); }

  std::u16string String() {
    ++pos_;  // opening quote
    std::u16string out;
    for (;;) {
      if (pos_ >= s_.size()) Fail("unterminated string", true);
      const char c = s_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(static_cast<unsigned char>(c));  // control characters stand for themselves
        continue;
      }
      if (pos_ >= s_.size()) Fail("unterminated escape", true);
      const char e = s_[pos_++];
      switch (e) {
        case '"': out.push_back(u'"'); break;
        case '\\': out.push_back(u'\\'); break;
        case '/': out.push_back(u'/'); break;
        case 'b': out.push_back(u'\b'); break;
        case 'f': out.push_back(u'\f'); break;
        case 'n': out.push_back(u'\n'); break;
        case 'r': out.push_back(u'\r'); break;
        case 't': out.push_back(u'\t'); break;
        case 'u': {
          unsigned unit = 0;
          for (int i = 0; i < 4; ++i) {
            const int d = pos_ < s_.size() ? Hex(s_[pos_]) : -1;
            if (d < 0) Fail("expected four hexadecimal digits after \\u", true);
            unit = unit * 16 + static_cast<unsigned>(d);
            ++pos_;
          }
          out.push_back(static_cast<char16_t>(unit));  // a lone surrogate stays as it is
          break;
        }
        default:
          --pos_;
          Fail("invalid escape", true);
      }
    }
  }

  JsonValue Object(int depth) {
    if (depth > kMaxDepth) Fail("nested deeper than 512 levels");
    ++pos_;
    JsonValue v;
    v.kind = JsonValue::Kind::Object;
    SkipWhitespace();
    if (Eat('}')) return v;
    for (;;) {
      SkipWhitespace();
      if (pos_ >= s_.size() || s_[pos_] != '"') Fail("expected a string as object key", true);
      v.keys.push_back(String());
      SkipWhitespace();
      if (!Eat(':')) Fail("expected ':' after object key", true);
      SkipWhitespace();
      v.values.push_back(Value(depth + 1));
      SkipWhitespace();
      if (Eat('}')) return v;
      if (!Eat(',')) Fail("expected ',' or '}' after object member", true);
    }
  }

  JsonValue Array(int depth) {
    if (depth > kMaxDepth) Fail("nested deeper than 512 levels");
    ++pos_;
    JsonValue v;
    v.kind = JsonValue::Kind::Array;
    SkipWhitespace();
    if (Eat(']')) return v;
    for (;;) {
      SkipWhitespace();
      v.values.push_back(Value(depth + 1));
      SkipWhitespace();
      if (Eat(']')) return v;
      if (!Eat(',')) Fail("expected ',' or ']' after array element", true);
    }
  }

  std::string_view s_;
  std::size_t pos_ = 0;
};

void AppendHex(std::u16string &out, char16_t unit) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  out += u"\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(unit >> shift) & 0xF]);
}

void Serialize(const JsonValue &v, std::u16string &out) {
  switch (v.kind) {
    case JsonValue::Kind::String:
      out.push_back(u'"');
      out += EscapeJsonUnits(v.text);
      out.push_back(u'"');
      break;
    case JsonValue::Kind::Number: out += v.text; break;
    case JsonValue::Kind::True: out += u"true"; break;
    case JsonValue::Kind::False: out += u"false"; break;
    case JsonValue::Kind::Null: out += u"null"; break;
    case JsonValue::Kind::Object:
      out.push_back(u'{');
      for (std::size_t i = 0; i < v.values.size(); ++i) {
        if (i > 0) out.push_back(u',');
        out.push_back(u'"');
        out += EscapeJsonUnits(v.keys[i]);
        out += u"\":";
        Serialize(v.values[i], out);
      }
      out.push_back(u'}');
      break;
    case JsonValue::Kind::Array:
      out.push_back(u'[');
      for (std::size_t i = 0; i < v.values.size(); ++i) {
        if (i > 0) out.push_back(u',');
        Serialize(v.values[i], out);
      }
      out.push_back(u']');
      break;
  }
}

}  // namespace

std::u16string EscapeJsonUnits(std::u16string_view units) {
  std::u16string out;
  out.reserve(units.size());
  for (char16_t c : units) {
    switch (c) {
      case 0x08: out += u"\\b"; break;
      case 0x09: out += u"\\t"; break;
      case 0x0A: out += u"\\n"; break;
      case 0x0C: out += u"\\f"; break;
      case 0x0D: out += u"\\r"; break;
      case u'"': out += u"\\\""; break;
      case u'/': out += u"\\/"; break;
      case u'\\': out += u"\\\\"; break;
      default:
        if (c < 0x20 || c > 0x7F) AppendHex(out, c);
        else out.push_back(c);
    }
  }
  return out;
}

std::u16string SerializeJson(const JsonValue &value) {
  std::u16string out;
  Serialize(value, out);
  return out;
}

JsonValue LeRequisicaoJSon(std::u16string_view body) {
  const std::string ascii = text::ToAsciiBestFit(body);
  JsonValue value = Parser(ascii).Document();
  if (value.kind != JsonValue::Kind::Object) throw InvalidRequest("Invalid class typecast");
  return value;
}

const JsonValue &Membro(const JsonValue &request, std::size_t position) {
  if (request.kind != JsonValue::Kind::Object || position >= request.values.size()) throw InvalidRequest("Argument out of range");
  return request.values[position];
}

std::u16string TextoDoCampo(const JsonValue &request, std::size_t position) {
  std::u16string text = SerializeJson(Membro(request, position));
  std::erase(text, u'"');
  return text;
}

}  // namespace tav::messaging
