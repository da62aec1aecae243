// A raw query cut into fields and each field URL-decoded, by the system's own rules.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tav::http {

// Cuts a raw query into fields by the cursor rules.
std::vector<std::u16string> SplitQuery(std::u16string_view raw);
// URL decoding of one query field; throws tav::Error with the system's messages.
std::u16string DecodeQueryField(std::u16string_view field);

}  // namespace tav::http
