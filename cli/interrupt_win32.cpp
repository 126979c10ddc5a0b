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
  if (event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    RequestStop(kTerminateSignal);
    return TRUE;  // a closing console still ends the process a few seconds later
  }
  return FALSE;
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

}  // namespace quillmend::cli
