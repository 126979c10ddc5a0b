#include "app/wait/waitform.h"

#include "app/application.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QScreen>

namespace quillmend {

TWaitForm::TWaitForm(const QString& title, int clientHeight)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
  setAttribute(Qt::WA_ShowWithoutActivating);
  setWindowTitle(title);
  setFont(WindowFont());
  setFixedSize(504, clientHeight);
  pbwait = new QProgressBar(this);
  pbwait->setObjectName(QStringLiteral("pbwait"));
  pbwait->setGeometry(16, 48, 465, 17);
  pbwait->setTextVisible(false);
  Label1 = new QLabel(QStringLiteral("Please Wait ......"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(16, 24, 78, 13);
}

void TWaitForm::ShowCentredOn(const QWidget* owner)
{
  QRect area;
  if (owner)
    area = owner->frameGeometry();
  else if (const QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  QRect frame(QPoint(), size());
  frame.moveCenter(area.center());
  move(frame.topLeft());
  show();
  repaint();
}

}  // namespace quillmend
