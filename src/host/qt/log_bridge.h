// Turns the execution log's append notifications (from any thread) into a Qt
// signal delivered on the GUI thread.
#pragma once

#include <QObject>

namespace tav::host {

class LogBridge : public QObject {
  Q_OBJECT
 public:
  explicit LogBridge(QObject *parent = nullptr);
  ~LogBridge() override;  // unhooks the log's listener

 signals:
  void entriesAppended();
};

}  // namespace tav::host
