// The platform layer for controlling another process of the user: sending it a signal, and asking
// which executable it runs and when it started (macOS's process information calls, libproc's
// proc_pidpath and proc_pidinfo; on Linux the answers come from /proc). Signals go through one
// function so that tests can observe them, and stop them before they are sent. No state except the
// observer and the gate; any thread.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_PROCESS_CONTROL_H_
#define CORVANE_UI_CLIENT_LAUNCHER_PROCESS_CONTROL_H_

#include <sys/types.h>
#include <time.h>

#include <functional>
#include <string>

// Fills `start` with the wall-clock time at which process `pid` started (precise to a clock tick on
// Linux, to a microsecond on macOS). 0, or -1 with errno set: ESRCH when no such process exists,
// EINVAL for a pid below 1, otherwise the error of the failing call.
int GetProcessStartTime(pid_t pid, struct timespec* start);

// Fills `path` with the absolute path of the executable process `pid` runs. When that file has been
// removed or replaced since the process started, the path it was started from (Linux marks it
// " (deleted)"; the mark is removed). 0, or -1 with errno set: ESRCH when no such process exists,
// EINVAL for a pid below 1, EACCES or EPERM when the system does not tell (another user's process).
int GetProcessExecutablePath(pid_t pid, std::string* path);

// kill(pid, sig), with errno as kill left it. The gate, when set, is asked first: when it refuses,
// nothing is sent and the call fails with EPERM. The observer, when set, hears of every call after
// it was made: the pid, the signal, the result and its errno (0 after success).
int SignalProcess(pid_t pid, int sig);

// Sets (or, with an empty function, removes) the gate of SignalProcess: it returns true to let the
// signal go. For tests that must never signal a process by mistake.
void SetSignalGate(std::function<bool(pid_t pid, int sig)> gate);

// Sets (or, with an empty function, removes) the observer of SignalProcess.
void SetSignalObserver(std::function<void(pid_t pid, int sig, int result, int error)> observer);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_PROCESS_CONTROL_H_
