// The register of a listener's open connections: how many are open in all and
// from each peer address (the caps), which are inside an action, and the snapshot
// Stop and the deadline sweep work from. No sockets: a connection is a key and a
// weak reference, so the rules can be tested on their own.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace tav::http::detail {

template <typename Connection, typename Peer>
class ConnectionRegister {
 public:
  enum class Admission { Accept, Refuse, Stopping };

  ConnectionRegister(std::size_t maxConnections, std::size_t maxPerPeer)
      : maxConnections_(maxConnections), maxPerPeer_(maxPerPeer) {}

  // Accept while under both caps; Refuse beyond them; Stopping once Stop began.
  Admission Admit(Connection *key, const Peer &peer, std::weak_ptr<Connection> connection) {
    std::lock_guard lock(mutex_);
    if (stopping_) return Admission::Stopping;
    if (open_.size() >= maxConnections_) return Admission::Refuse;
    std::size_t &fromPeer = perPeer_[peer];
    if (fromPeer >= maxPerPeer_) {
      if (fromPeer == 0) perPeer_.erase(peer);
      return Admission::Refuse;
    }
    ++fromPeer;
    open_.emplace(key, Entry{std::move(connection), peer, false});
    return Admission::Accept;
  }

  // Nothing when the connection is not (or no longer) in the register.
  void Leave(Connection *key) {
    std::lock_guard lock(mutex_);
    const auto entry = open_.find(key);
    if (entry == open_.end()) return;
    const auto peer = perPeer_.find(entry->second.peer);
    if (peer != perPeer_.end() && --peer->second == 0) perPeer_.erase(peer);
    open_.erase(entry);
  }

  // A connection about to run its action; false when stopping (it must not start).
  bool BeginServing(Connection *key) {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    if (const auto entry = open_.find(key); entry != open_.end()) entry->second.serving = true;
    return true;
  }
  void EndServing(Connection *key) {
    std::lock_guard lock(mutex_);
    if (const auto entry = open_.find(key); entry != open_.end()) entry->second.serving = false;
  }

  std::size_t Open() const {
    std::lock_guard lock(mutex_);
    return open_.size();
  }

  // The connections outside any action for which late(key) holds (deadline sweep).
  template <typename Late>
  std::vector<std::shared_ptr<Connection>> Select(Late late) const {
    std::vector<std::shared_ptr<Connection>> chosen;
    std::lock_guard lock(mutex_);
    for (const auto &[key, entry] : open_) {
      if (entry.serving || !late(key)) continue;
      if (auto shared = entry.connection.lock()) chosen.push_back(std::move(shared));
    }
    return chosen;
  }

  // From now on Admit answers Stopping and no action begins. serving(key) is called,
  // under the lock, for each connection inside an action (while it is still in the
  // register its socket is its own); the others are returned, to be closed.
  template <typename Serving>
  std::vector<std::shared_ptr<Connection>> Stop(Serving serving) {
    std::vector<std::shared_ptr<Connection>> others;
    std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const auto &[key, entry] : open_) {
      if (entry.serving) serving(key);
      else if (auto shared = entry.connection.lock()) others.push_back(std::move(shared));
    }
    return others;
  }

 private:
  struct Entry {
    std::weak_ptr<Connection> connection;
    Peer peer;
    bool serving;
  };
  const std::size_t maxConnections_, maxPerPeer_;
  mutable std::mutex mutex_;
  bool stopping_ = false;
  std::unordered_map<Connection *, Entry> open_;
  std::unordered_map<Peer, std::size_t> perPeer_;
};

}  // namespace tav::http::detail
