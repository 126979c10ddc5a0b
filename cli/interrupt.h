#pragma once
// Ctrl-C and a request to terminate (SIGINT and SIGTERM; on Windows Ctrl-C, Ctrl-Break and the
// console closing) ask the work in hand to stop at its next step, as the window's Cancel does: an
// export keeps its whole messages, removes its temporary files and still reports. The tool then
// exits with 128 plus the signal's number (130, 143). The system's half is in interrupt_posix.cpp
// and interrupt_win32.cpp.

namespace quillmend::cli {

inline constexpr int kInterruptSignal = 2;   // SIGINT's number, on every system
inline constexpr int kTerminateSignal = 15;  // SIGTERM's

// Makes the signals above requests to stop instead of ending the process at once.
void CatchInterrupts();

// Records a request to stop, as a signal's handler does (kInterruptSignal or kTerminateSignal).
void RequestStop(int signal);

// The signal that asked to stop, or 0.
int StopRequested();

// Forgets a request to stop: before a new piece of work in the same process (tests).
void ClearStopRequest();

}  // namespace quillmend::cli
