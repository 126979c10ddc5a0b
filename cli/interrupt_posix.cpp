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
  action.sa_flags = SA_RESTART;  // reads and writes go on; the work stops at its next step
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM})
    sigaction(signal, &action, nullptr);
}

}  // namespace quillmend::cli
