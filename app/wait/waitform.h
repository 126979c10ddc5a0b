#pragma once
// What the two wait windows share: a borderless, stay-on-top window with "Please Wait ......", a bar
// and a "Cancel" button (Esc too), shown centred on the window it waits for.

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quillmend {

class TJobRunner;

class TWaitForm : public QWidget {
  Q_OBJECT
public:
  QProgressBar* pbwait;
  QLabel* Label1;
  QPushButton* btnCancel;

  // Shows the window (not modal) centred on owner, or on the screen when there is none.
  void ShowCentredOn(const QWidget* owner);

  // Ties the window to job: Cancel stops it, and the window closes when it ends.
  void Follow(TJobRunner& job);

signals:
  void CancelRequested();

protected:
  TWaitForm(const QString& title, int clientHeight);
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace quillmend
