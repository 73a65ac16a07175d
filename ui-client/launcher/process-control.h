// The platform layer for controlling another process of the user: sending it a signal, and asking
// when it started (our stand-in for macOS's process information call, libproc's proc_pidinfo; on
// Linux the answer comes from /proc). Signals go through one function so that tests can observe
// them. No state except the observer; any thread.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_PROCESS_CONTROL_H_
#define CORVANE_UI_CLIENT_LAUNCHER_PROCESS_CONTROL_H_

#include <sys/types.h>
#include <time.h>

#include <functional>

// Fills `start` with the wall-clock time at which process `pid` started (precise to a clock tick on
// Linux, to a microsecond on macOS). 0, or -1 with errno set: ESRCH when no such process exists,
// EINVAL for a pid below 1, otherwise the error of the failing call.
int GetProcessStartTime(pid_t pid, struct timespec* start);

// kill(pid, sig), with errno as kill left it. The observer, when set, hears of every call after it
// was made: the pid, the signal, kill's result and its errno (0 after success).
int SignalProcess(pid_t pid, int sig);

// Sets (or, with an empty function, removes) the observer of SignalProcess.
void SetSignalObserver(std::function<void(pid_t pid, int sig, int result, int error)> observer);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_PROCESS_CONTROL_H_
