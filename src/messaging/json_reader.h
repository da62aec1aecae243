// Reads a request body as one JSON object and gives the text of a member by position.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace tav::messaging {

// The body is not what the route can read: not JSON, not an object, too few
// members. The sender's fault, unlike a failure to carry the request out.
class InvalidRequest : public Error {
 public:
  using Error::Error;
};

struct JsonValue {
  enum class Kind { Object, Array, String, Number, True, False, Null };
  Kind kind = Kind::Null;
  std::u16string text;                // a string's UTF-16 units, or a number as written
  std::vector<std::u16string> keys;   // an object's keys, in order, duplicates kept
  std::vector<JsonValue> values;      // an object's member values, or an array's elements
};

// The body reduced to ASCII with best fit, then parsed. Throws InvalidRequest: a
// message that says where an invalid body went wrong, or "Invalid class typecast"
// when the top-level value is not an object.
JsonValue LeRequisicaoJSon(std::u16string_view body);

// The member at `position` (from 0) as compact JSON with every double quote
// removed. Throws InvalidRequest "Argument out of range" when there is none.
std::u16string TextoDoCampo(const JsonValue &request, std::size_t position);

// The member value at `position`; throws "Argument out of range" like TextoDoCampo.
const JsonValue &Membro(const JsonValue &request, std::size_t position);

// String units written by the escape table (upper-case hex, "\/"), without quotes.
std::u16string EscapeJsonUnits(std::u16string_view units);

// Compact JSON of a value.
std::u16string SerializeJson(const JsonValue &value);

}  // namespace tav::messaging
