#include "http/web.h"

#include <ctime>

#include "http/detail/query.h"
#include "http/detail/request.h"
#include "http/detail/response.h"
#include "http/handler_pool.h"
#include "platform/errors.h"
#include "platform/no_destructor.h"
#include "platform/strconv.h"
#include "platform/text.h"

namespace tav::http {
namespace {

constexpr char kTooManyMessage[] = "Maximum number of concurrent connections exceeded.  Please try again later";

}  // namespace

// ---- web request --------------------------------------------------------------

const std::u16string &WebRequest::PathInfo() const { return r_.path; }
const std::string &WebRequest::Method() const { return r_.method; }

const std::vector<std::u16string> &WebRequest::QueryFields() {
  if (!query_) {
    std::vector<std::u16string> fields;
    for (const auto &raw : SplitQuery(r_.rawQuery)) fields.push_back(DecodeQueryField(raw));
    query_ = std::move(fields);
  }
  return *query_;
}

std::u16string WebRequest::QueryField(std::u16string_view name) {
  for (const auto &field : QueryFields()) {
    const std::size_t eq = field.find(u'=');
    if (eq == std::u16string::npos) continue;
    if (text::EqualsNoCaseAscii(std::u16string_view(field).substr(0, eq), name)) return field.substr(eq + 1);
  }
  return {};
}

std::u16string WebRequest::GetFieldByName(std::u16string_view name) const {
  return DecodeLine(HeaderValue(r_.headers, text::ToUtf8(name)));
}

std::u16string WebRequest::ReadString(std::int32_t count) {
  if (!source_) {
    if (r_.body) source_ = *r_.body;
    else if (!r_.formText.empty()) source_ = text::ToAnsi(r_.formText);
    else source_ = text::ToAnsi(r_.unparsedParams);
  }
  const std::size_t left = source_->size() - readPos_;
  const std::size_t take = count < 0 ? left : std::min<std::size_t>(left, static_cast<std::size_t>(count));
  const std::string_view bytes = std::string_view(*source_).substr(readPos_, take);
  readPos_ += take;
  return text::Decode(bytes, r_.charset);
}

// ---- web response -------------------------------------------------------------

void WebResponse::SetContentType(std::u16string_view value) { r_.SetContentType(value); }
void WebResponse::SetStatusCode(std::int32_t code) { r_.SetStatus(code); }
void WebResponse::SetContent(std::u16string_view content) { r_.content = content; }
std::int32_t WebResponse::StatusCode() const { return r_.status; }
const std::u16string &WebResponse::Content() const { return r_.content; }

std::u16string WebResponse::ContentType() const {
  std::u16string value = r_.contentType;
  if (!r_.charset.empty()) value += u"; charset=" + text::FromUtf8(r_.charset);
  return value;
}

void WebResponse::SendResponse() {
  sent_ = true;
  r_.contentLength = -1;
  if (r_.contentType.empty() && !r_.content.empty()) r_.SetContentType(u"text/html; charset=utf-8");
  WriteContent(r_, kind_, sink_, std::time(nullptr));
}

// ---- handler pool (http/handler_pool.h) -------------------------------------------------------------

HandlerPool &HandlerPool::Global() {
  static NoDestructor<HandlerPool> pool;  // instances live until the program ends
  return pool.get();
}

void HandlerPool::RegisterModuleClass(ModuleFactory factory) {
  std::lock_guard lock(mutex_);
  factory_ = std::move(factory);
  idle_.clear();
}

HandlerPool::Lease HandlerPool::Admit() {
  std::lock_guard lock(mutex_);
  if (active_ >= limit_) throw Error(kTooManyMessage);
  std::unique_ptr<WebModule> module;
  if (!idle_.empty()) {
    module = std::move(idle_.front());
    idle_.erase(idle_.begin());
  } else if (factory_) {
    module = factory_();
  }
  ++active_;
  return Lease(*this, std::move(module));
}

void HandlerPool::GiveBack(std::unique_ptr<WebModule> module) {
  std::lock_guard lock(mutex_);
  --active_;
  if (module) idle_.push_back(std::move(module));
}

void HandlerPool::Lease::Release() {
  if (pool_ != nullptr) std::exchange(pool_, nullptr)->GiveBack(std::move(module_));
}

std::size_t HandlerPool::Active() const {
  std::lock_guard lock(mutex_);
  return active_;
}

std::size_t HandlerPool::Idle() const {
  std::lock_guard lock(mutex_);
  return idle_.size();
}

}  // namespace tav::http
