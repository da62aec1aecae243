#include "host/qt/log_bridge.h"

#include <atomic>

#include "log/execution_log.h"

namespace tav::host {

LogBridge::LogBridge(QObject *parent) : QObject(parent) {
  // Emitting from a worker thread queues the signal to the receivers' thread.
  log::ExecutionLog::Global().SetListener([this] { emit entriesAppended(); });
}

LogBridge::~LogBridge() { log::ExecutionLog::Global().SetListener({}); }

}  // namespace tav::host
