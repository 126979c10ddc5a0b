#include "cli/interrupt.h"

#include "base/win32.h"

namespace quillmend::cli {

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event)
{
  if (event == CTRL_C_EVENT) {
    RequestStop(kInterruptSignal);
    return TRUE;
  }
  if (event == CTRL_BREAK_EVENT) {
    RequestStop(kTerminateSignal);
    return TRUE;
  }
  if (event == CTRL_CLOSE_EVENT) {
    // The process ends as soon as this returns, and five seconds after the close at the latest: the
    // wait gives the work the time to stop at its next step and clean up, and ends with the process.
    RequestStop(kTerminateSignal);
    Sleep(4500);
    return TRUE;
  }
  return FALSE;
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace quillmend::cli
