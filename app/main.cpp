#include "app/application.h"
#include "app/frmMainWindow.h"

#include <QApplication>

int main(int argc, char* argv[])
{
  QApplication application(argc, argv);
  quillmend::InitApplication();
  quillmend::TfrmMain window;
  window.show();
  return application.exec();
}
