// The request bridge: one delivered request through a module instance's action
// table, with the unhandled-error page when an action fails.
#pragma once

#include <string>
#include <string_view>

namespace tav::http {

struct RequestRecord;
struct ResponseRecord;
class ByteSink;
class HandlerPool;

// Runs the bridge for one delivered request: admission, dispatch, the error page,
// SendResponse. Errors other than ConnectionError propagate to the caller.
void ServeRequest(RequestRecord &request, ResponseRecord &response, ByteSink &sink, HandlerPool &pool);

// "*", "?" and [sets] ("!" negates, "a-z" ranges); ASCII letters without regard to case.
bool MatchesPath(std::u16string_view pattern, std::u16string_view path);

// The unhandled-error page for a message and a path (both HTML-escaped).
std::u16string ErrorPage(std::u16string_view message, std::u16string_view path);

}  // namespace tav::http
