// The operator dialogs and shell actions the windows use; tests replace them.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace tav::host {

class Prompter {
 public:
  virtual ~Prompter() = default;
  // The toolkit's standard error box.
  virtual void ShowError(QWidget *parent, const QString &message);
  // A Yes/No confirmation; true for Yes.
  virtual bool Confirm(QWidget *parent, const QString &message);
  // Opens a URL or file with the system's default handler.
  virtual void Open(const QUrl &url);

  static Prompter &Current();
  static void Set(Prompter *prompter);  // null restores the default
};

}  // namespace tav::host
