// What the tests ask of the system where Linux and macOS answer differently: a small scratch volume
// (a tmpfs, which only Linux has, and only root may mount), whether a process still runs, which
// program runs, the path of an open descriptor, file times to the nanosecond, a pipe closed on exec
// and an empty environment. Tests that need what a platform lacks skip with the reason. No state;
// any thread (ClearEnvironment: in a child process after fork).
#ifndef CORVANE_TESTS_SUPPORT_PLATFORM_H_
#define CORVANE_TESTS_SUPPORT_PLATFORM_H_

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <string>

namespace testsupport {

// Mounts a tmpfs at the folder `dir` with mount options `options` ("size=4m,mode=0755"). 0, or -1
// with errno: EPERM without root; ENOTSUP on macOS, which has no tmpfs.
int MountTmpfs(const std::string& dir, const char* options);
// Mounts the tmpfs at `dir` again with `options`, read-only when `read_only`. 0, or -1 with errno.
int RemountTmpfs(const std::string& dir, const char* options, bool read_only);
// Detaches whatever is mounted at `dir`, even while in use; failures are ignored.
void Unmount(const std::string& dir);

// True while `pid` names a process that has not ended (a zombie, ended but not yet reaped, has).
bool IsLiveProcess(pid_t pid);
// The absolute path of the running program, read without the launcher's process-control layer (so
// that tests of that layer have something to compare with); empty when the system does not tell.
std::string ThisProgram();
// The path of the file open at descriptor `fd`; empty when the system does not tell.
std::string PathOfDescriptor(int fd);

// The modification and access times of a status record, to the nanosecond.
struct timespec ModificationTime(const struct stat& st);
struct timespec AccessTime(const struct stat& st);

// pipe(2) with both ends closed on exec. 0, or -1 with errno.
int PipeCloseOnExec(int fds[2]);
// Removes every variable from the environment.
void ClearEnvironment();

}  // namespace testsupport

#endif  // CORVANE_TESTS_SUPPORT_PLATFORM_H_
