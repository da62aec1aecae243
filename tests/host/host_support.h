// Test helpers for the Qt windows: a recording prompter, event processing, and
// the scratch working directory of support/working_directory.h.
#pragma once

#include <QApplication>
#include <QStringList>

#include "host/qt/prompter.h"
#include "log/execution_log.h"
#include "support/working_directory.h"

namespace tav::testing {

class RecordingPrompter : public host::Prompter {
 public:
  RecordingPrompter() { Prompter::Set(this); }
  ~RecordingPrompter() override { Prompter::Set(nullptr); }
  void ShowError(QWidget *, const QString &message) override { errors << message; }
  bool Confirm(QWidget *, const QString &message) override {
    confirmations << message;
    return answer;
  }
  void Open(const QUrl &url) override { opened << url.toString(); }

  QStringList errors, confirmations, opened;
  bool answer = false;
};

inline void ProcessEvents() {
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

}  // namespace tav::testing
