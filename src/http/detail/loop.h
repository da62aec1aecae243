// The types the listener's parts share: one event loop (standalone Asio), and a
// strand per connection so that its reads, writes and timers never run at once.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include <chrono>

namespace tav::http::detail {

using Clock = std::chrono::steady_clock;
using tcp = asio::ip::tcp;
using Strand = asio::strand<asio::io_context::executor_type>;
using Socket = tcp::socket::rebind_executor<Strand>::other;
using Timer = asio::basic_waitable_timer<Clock, asio::wait_traits<Clock>, Strand>;

}  // namespace tav::http::detail
