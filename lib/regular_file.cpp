#include "regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

int Fail(int* error, int value) {
  if (error != nullptr) *error = value;
  return -1;
}

int OpenNonBlocking(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = open(path, flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The error of a failed open: a link in the last component, which O_NOFOLLOW refuses with ELOOP (a loop
// of links on the way to it gives ELOOP too), is no regular file.
int OpenError(const char* path, int err) {
  struct stat st;
  if (err == ELOOP && lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) return kNotRegularFile;
  return err;
}

}  // namespace

int OpenRegularFile(const char* path, const char* mode, int* error) {
  int flags;
  mode_t permissions = 0666;
  if (mode != nullptr && strcmp(mode, "r") == 0) {
    flags = O_RDONLY;
  } else if (mode != nullptr && strcmp(mode, "a") == 0) {
    flags = O_WRONLY | O_APPEND | O_CREAT;
  } else if (mode != nullptr && strcmp(mode, "lock") == 0) {
    flags = O_RDWR | O_CREAT;
    permissions = 0600;
  } else {
    return Fail(error, EINVAL);
  }
  const int fd = OpenNonBlocking(path, flags, permissions);
  if (fd < 0) return Fail(error, OpenError(path, errno));
  struct stat st;
  if (fstat(fd, &st) != 0) {
    const int err = errno;
    close(fd);
    return Fail(error, err);
  }
  if (!S_ISREG(st.st_mode)) {
    close(fd);
    return Fail(error, kNotRegularFile);
  }
  // A regular file never blocks; the flag is dropped so that the stream behaves as fopen's would.
  const int status = fcntl(fd, F_GETFL);
  if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    const int err = errno;
    close(fd);
    return Fail(error, err);
  }
  return fd;
}

FILE* OpenRegularStream(const char* path, const char* mode, int* error) {
  const int fd = OpenRegularFile(path, mode, error);
  if (fd < 0) return nullptr;
  FILE* fp = fdopen(fd, mode);
  if (fp == nullptr) {
    Fail(error, errno);
    close(fd);
  }
  return fp;
}

int ReadRegularFile(const char* path, size_t max_size, std::string* content, int* error) {
  content->clear();
  const int fd = OpenRegularFile(path, "r", error);
  if (fd < 0) return -1;
  struct stat st;
  int err = fstat(fd, &st) != 0 ? errno : 0;
  if (err == 0 && static_cast<unsigned long long>(st.st_size) > max_size) err = kFileTooLarge;
  // One byte more than fstat tells shows the end; one byte past the bound, a file grown too large.
  if (err == 0) content->resize(static_cast<size_t>(st.st_size) + 1);
  size_t size = 0;
  while (err == 0 && size <= max_size) {
    if (size == content->size()) content->resize(max_size + 1);
    const ssize_t n = read(fd, &(*content)[size], content->size() - size);
    if (n > 0) {
      size += static_cast<size_t>(n);
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      err = errno;
    }
  }
  close(fd);
  if (err == 0 && size > max_size) err = kFileTooLarge;
  if (err != 0) {
    content->clear();
    content->shrink_to_fit();
    return Fail(error, err);
  }
  content->resize(size);
  return 0;
}

std::string RegularFileErrorText(int error) {
  if (error == kNotRegularFile) return "not a regular file";
  if (error == kFileTooLarge) return "too large";
  return strerror(error);
}
