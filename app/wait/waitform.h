#pragma once
// What the two wait windows share: a borderless, stay-on-top window with "Please Wait ......" and a
// bar, shown centred on the window it waits for.

#include <QWidget>

class QLabel;
class QProgressBar;

namespace quillmend {

class TWaitForm : public QWidget {
  Q_OBJECT
public:
  QProgressBar* pbwait;
  QLabel* Label1;

  // Shows the window (not modal) centred on owner, or on the screen when there is none, and paints it
  // at once: the caller goes on working without returning to the event loop.
  void ShowCentredOn(const QWidget* owner);

protected:
  TWaitForm(const QString& title, int clientHeight);
};

}  // namespace quillmend
