// What a web module sees: the web request and response of its actions, and its
// action table. The listener serves with instances from a HandlerPool
// (http/handler_pool.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tav::http {

// The listener's records behind a request and its response (http/detail).
struct RequestRecord;
struct ResponseRecord;
class ByteSink;
enum class MethodKind;

class WebRequest {
 public:
  explicit WebRequest(RequestRecord &record) : r_(record) {}

  // Query fields in order, URL-decoded; built on first use. Throws tav::Error on a bad escape.
  const std::vector<std::u16string> &QueryFields();
  // The value of the first query field of that name (without regard to case), or empty.
  std::u16string QueryField(std::u16string_view name);
  // The value of the first request header of that name, or empty.
  std::u16string GetFieldByName(std::u16string_view name) const;
  // At most `count` bytes of the content (all that is left when negative), decoded by the charset.
  std::u16string ReadString(std::int32_t count);

  const std::u16string &PathInfo() const;
  const std::string &Method() const;

 private:
  RequestRecord &r_;
  std::optional<std::vector<std::u16string>> query_;
  std::optional<std::string> source_;
  std::size_t readPos_ = 0;
};

class WebResponse {
 public:
  WebResponse(ResponseRecord &record, ByteSink &sink, MethodKind kind) : r_(record), sink_(sink), kind_(kind) {}

  void SetContentType(std::u16string_view value);
  void SetStatusCode(std::int32_t code);
  void SetContent(std::u16string_view content);
  std::int32_t StatusCode() const;
  const std::u16string &Content() const;
  std::u16string ContentType() const;

  // Writes the response now; afterwards Sent() is true.
  void SendResponse();
  bool Sent() const { return sent_; }

 private:
  ResponseRecord &r_;
  ByteSink &sink_;
  MethodKind kind_;
  bool sent_ = false;
};

enum class MethodType { Any, Get, Put, Post, Head, Delete, Patch };

struct WebAction {
  std::u16string Name;
  std::u16string PathInfo;
  MethodType methodType = MethodType::Any;
  bool Enabled = true;
  bool Default = false;
  std::function<void(WebAction &, WebRequest &, WebResponse &, bool &)> OnAction;
};

// A web module: an action table. Instances serve one request at a time.
class WebModule {
 public:
  virtual ~WebModule() = default;
  std::vector<WebAction> &Actions() { return actions_; }

 protected:
  std::vector<WebAction> actions_;
};

}  // namespace tav::http
