#include "cli/interrupt.h"

#include <csignal>
#include <initializer_list>

namespace quillmend::cli {

namespace {

extern "C" void OnSignal(int signal) { RequestStop(signal == SIGTERM ? kTerminateSignal : kInterruptSignal); }

}  // namespace

void CatchInterrupts()
{
  struct sigaction action {};
  action.sa_handler = OnSignal;
  // Reads and writes go on and the work stops at its next step; a second signal ends the process at
  // once, for work that has no next step soon (a read that hangs).
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM})
    sigaction(signal, &action, nullptr);
}

}  // namespace quillmend::cli
