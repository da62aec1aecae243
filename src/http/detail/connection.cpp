#include "http/detail/connection.h"

#include <asio/post.hpp>

#include <ctime>
#include <memory>

#include "http/detail/deadline.h"
#include "http/detail/dispatch.h"
#include "http/detail/response.h"
#include "http/web.h"
#include "platform/errors.h"

namespace tav::http::detail {
namespace {

constexpr std::size_t kReadChunk = 65536;
constexpr std::size_t kMaxDrain = 4u << 20;  // bytes read and dropped after a refusal

// Bytes arrive here first; a connection keeps only what it received, so a
// connection that waits holds no buffer of its own.
char *ReadBuffer() {
  thread_local std::unique_ptr<char[]> buffer;
  if (!buffer) buffer = std::make_unique_for_overwrite<char[]>(kReadChunk);
  return buffer.get();
}

std::string StatusOnly(int status) {
  ResponseRecord response;
  response.SetStatus(status);
  StringSink out;
  WriteHeader(response, out, std::time(nullptr));
  return std::move(out.data);
}

}  // namespace

Connection::Connection(ConnectionHost &host, Strand strand, net::NativeSocket native, asio::ip::address peer)
    : host_(host),
      limits_(host.ConnectionLimits()),
      strand_(std::move(strand)),
      native_(native),
      peer_(std::move(peer)),
      reader_(limits_) {}

Connection::~Connection() { Close(); }

bool Connection::Register() {
  if (socket_) return true;
  socket_.emplace(strand_);
  asio::error_code ec;
  socket_->assign(peer_.is_v6() ? tcp::v6() : tcp::v4(), static_cast<tcp::socket::native_handle_type>(native_), ec);
  if (ec) {
    socket_.reset();  // the native socket is still ours to close
    return false;
  }
  return true;
}

void Connection::Start() {
  started_ = lastActivity_ = Clock::now();
  Publish();
  Advance();  // the first bytes are usually there already
}

void Connection::RefuseNow() {
  for (std::size_t read = 0; read < 4 * kReadChunk;) {
    const net::IoResult got = net::ReceiveNow(native_, ReadBuffer(), kReadChunk);
    if (got.status != net::Io::Moved) break;
    read += got.bytes;
  }
  const std::string answer = StatusOnly(503);
  net::SendNow(native_, answer.data(), answer.size());
  net::ShutdownSend(native_);
  net::CloseSocket(native_);
  closed_ = true;
}

net::IoResult Connection::Receive(bool keep) {
  char *buffer = ReadBuffer();
  const net::IoResult got = net::ReceiveNow(native_, buffer, kReadChunk);
  if (got.status == net::Io::Ended) peerClosed_ = true;
  if (got.status != net::Io::Moved) return got;
  if (keep) data_.append(buffer, got.bytes);
  else drained_ += got.bytes;
  Touch();
  return got;
}

void Connection::Advance() {
  for (;;) {
    ReadOutcome outcome = reader_.Next(data_, peerClosed_);
    if (std::holds_alternative<NeedMore>(outcome)) {
      // What the reader has read (head, framing, trailers) is not kept.
      if (const std::size_t consumed = reader_.TakeConsumed()) data_.erase(0, consumed);
      switch (Receive(true).status) {
        case net::Io::Moved:
        case net::Io::Ended:
          continue;
        case net::Io::WouldBlock:
          Wait(tcp::socket::wait_read);
          return;
        case net::Io::Failed:
          Close();
          return;
      }
    } else if (auto *delivered = std::get_if<Delivered>(&outcome)) {
      Serve(delivered->request);
      return;
    } else if (auto *refused = std::get_if<Refused>(&outcome)) {
      Refuse(*refused);
      return;
    } else if (auto *interim = std::get_if<SendInterim>(&outcome)) {
      reader_.InterimSent();
      Send(std::move(interim->bytes), After::Read);
      return;
    } else if (std::holds_alternative<Probe>(outcome)) {
      // An unframed POST or PUT: a body that is coming shows up within the probe time.
      const net::Io got = Receive(true).status;
      if (got == net::Io::Failed) {
        Close();
        return;
      }
      if (got != net::Io::WouldBlock) {
        reader_.ProbeDone();
        continue;
      }
      ProbeBody();
      return;
    } else {  // Closed
      Close();
      return;
    }
  }
}

// Nothing there yet: the body gets the probe time to show up.
void Connection::ProbeBody() {
  if (!probe_) probe_.emplace(strand_);
  probe_->expires_after(limits_.bodyProbe);
  probe_->async_wait([self = shared_from_this()](const asio::error_code &ec) {
    if (self->closed_ || ec) return;
    if (self->Receive(true).status == net::Io::Failed) {
      self->Close();
      return;
    }
    self->reader_.ProbeDone();
    self->Advance();
  });
}

void Connection::Refuse(const Refused &refused) {
  requestDone_ = true;
  ResponseRecord response;
  response.SetStatus(refused.status);
  response.content = refused.content;
  if (!refused.authenticate.empty()) response.authenticate.push_back(refused.authenticate);
  StringSink sink;
  WriteContent(response, reader_.Kind(), sink, std::time(nullptr));
  Send(std::move(sink.data), After::Linger);
}

void Connection::Wait(tcp::socket::wait_type what) {
  if (!Register()) {
    Close();
    return;
  }
  socket_->async_wait(what, [self = shared_from_this(), what](const asio::error_code &ec) {
    if (self->closed_) return;
    if (ec) self->Close();
    else if (what == tcp::socket::wait_write) self->Flush();
    else if (self->lingering_) self->Drain();
    else self->Advance();
  });
}

void Connection::Serve(RequestRecord &request) {
  requestDone_ = true;
  if (!host_.BeginAction(*this)) {  // stopping: the action does not start
    Close();
    return;
  }
  ResponseRecord response;
  StringSink sink;  // the answer goes out once the action is done
  bool answer = true;
  try {
    try {
      ServeRequest(request, response, sink, host_.Pool());
    } catch (...) {  // the sink is memory: this is never the connection failing
      response.SetStatus(500);
      response.content = ErrorText(std::current_exception());
    }
    if (!response.headerWritten) WriteHeader(response, sink, std::time(nullptr));
    if (!response.content.empty()) WriteContent(response, request.kind, sink, std::time(nullptr));
  } catch (...) {
    answer = false;  // nothing escapes a connection
  }
  host_.EndAction(*this);
  Touch();  // the action's time does not count as the client's silence
  if (answer) Send(std::move(sink.data), After::Close);
  else Close();
}

void Connection::Send(std::string bytes, After after) {
  out_ = std::move(bytes);
  outPos_ = 0;
  after_ = after;
  Flush();
}

void Connection::Flush() {
  while (outPos_ < out_.size()) {
    const net::IoResult sent = net::SendNow(native_, out_.data() + outPos_, out_.size() - outPos_);
    if (sent.status == net::Io::WouldBlock) {
      Wait(tcp::socket::wait_write);
      return;
    }
    if (sent.status != net::Io::Moved) {  // the peer is gone: nothing more is written
      Close();
      return;
    }
    outPos_ += sent.bytes;
    Touch();
  }
  std::string().swap(out_);
  switch (after_) {
    case After::Read: Advance(); break;
    case After::Linger: Linger(); break;
    case After::Close: Close(); break;
  }
}

// After a refusal the client may still be sending its request: read and drop what
// it sends for a short while, so that closing does not reset the answer away.
void Connection::Linger() {
  lingering_ = true;
  std::string().swap(data_);
  net::ShutdownSend(native_);
  lingerUntil_ = Clock::now() + limits_.lingerTime;
  Publish();
  Drain();
}

void Connection::Drain() {
  for (;;) {
    switch (Receive(false).status) {
      case net::Io::Moved:
        if (drained_ >= kMaxDrain) {
          Close();
          return;
        }
        continue;
      case net::Io::WouldBlock:
        Wait(tcp::socket::wait_read);
        return;
      case net::Io::Ended:
      case net::Io::Failed:
        Close();
        return;
    }
  }
}

void Connection::Touch() {
  lastActivity_ = Clock::now();
  Publish();
}

Clock::time_point Connection::Deadline() const {
  return detail::ConnectionDeadline(
      {started_, lastActivity_, lingerUntil_, lingering_, requestDone_, reader_.BodyBytes()}, limits_);
}

void Connection::Expire() {
  if (!closed_ && Clock::now() >= Deadline()) Close();
}

void Connection::Close() {
  if (closed_) return;
  closed_ = true;
  host_.Leave(*this);  // before the close: Stop no longer touches the descriptor
  asio::error_code ec;
  if (socket_) socket_->close(ec);
  else net::CloseSocket(native_);
  if (probe_) probe_->cancel();
  std::string().swap(data_);
  std::string().swap(out_);
}


}  // namespace tav::http::detail
