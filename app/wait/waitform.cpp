#include "app/wait/waitform.h"

#include "app/application.h"
#include "app/job.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

namespace quillmend {

TWaitForm::TWaitForm(const QString& title, int clientHeight)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
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
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(214, clientHeight - 31, 75, 23);
  connect(btnCancel, &QPushButton::clicked, this, &TWaitForm::CancelRequested);
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
  // The main window is disabled meanwhile: this window takes the keys, so Esc reaches Cancel.
  activateWindow();
  btnCancel->setFocus();
}

void TWaitForm::Follow(TJobRunner& job)
{
  connect(this, &TWaitForm::CancelRequested, &job, [this, &job] {
    job.Cancel();
    btnCancel->setEnabled(false);  // one request is enough; the job stops at its next step
  });
  connect(&job, &TJobRunner::WorkEnded, this, &QWidget::close);
}

void TWaitForm::keyPressEvent(QKeyEvent* event)
{
  if (event->key() == Qt::Key_Escape)
    emit CancelRequested();
  else
    QWidget::keyPressEvent(event);
}

}  // namespace quillmend
