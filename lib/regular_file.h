// Opening the files the launcher finds in the home folder or in the bundle (INFO, ui.pid,
// launcher.debug, the log, the package and its digest, the dialog's icon) so that no kind of file
// placed there can stop it, redirect it or leak into the programs it starts: the open never waits (a
// named pipe without a writer, a device), never goes through a symbolic link in the last component
// (one placed there, dangling or not, could make it read another file or create and write one
// elsewhere), the descriptor is closed on exec, and only a regular file is accepted, as fstat of the
// opened descriptor tells, so nothing can be swapped in between the check and the use. No Qt. Any
// thread.
#ifndef CORVANE_LIB_REGULAR_FILE_H_
#define CORVANE_LIB_REGULAR_FILE_H_

#include <cstdio>
#include <string>

// The error of an open that found something other than a regular file at the path, a symbolic link
// included. Negative, so it is never taken for an errno value.
constexpr int kNotRegularFile = -2;
// The error of a read that found the file larger than the bound it was given.
constexpr int kFileTooLarge = -3;

// Opens `path` for reading ("r"), for appending ("a", created with mode 0666 less the umask when
// missing) or for reading and writing ("lock", created with mode 0600 less the umask when missing)
// and returns the descriptor, back in blocking mode, with close-on-exec set. No mode follows a link
// in the last component: a link there, dangling or not, fails with kNotRegularFile and creates
// nothing (links on the way to it are followed). -1 when it cannot be opened or is not a regular
// file; `*error` (when not null) is then errno of the failing call or kNotRegularFile, and nothing
// is left open. Any other mode is refused with EINVAL.
int OpenRegularFile(const char* path, const char* mode, int* error);

// The same as a stdio stream ("r" or "a"); null on failure with `*error` as above.
FILE* OpenRegularStream(const char* path, const char* mode, int* error);

// The whole content of the regular file at `path` in `*content`, when it holds at most `max_size`
// bytes. The size is checked on the open descriptor before anything is read, and no more than
// `max_size` + 1 bytes are ever read, so a file that grows meanwhile (or a huge sparse one) costs
// nothing. 0, or -1 with `*error` as above, kFileTooLarge, or errno of a failed read; `*content` is
// then empty.
int ReadRegularFile(const char* path, size_t max_size, std::string* content, int* error);

// Text for an `error` of the calls above: "not a regular file", "too large" or strerror.
std::string RegularFileErrorText(int error);

#endif  // CORVANE_LIB_REGULAR_FILE_H_
