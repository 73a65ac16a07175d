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

int OpenNonBlocking(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

int OpenRegularFile(const char* path, const char* mode, int* error) {
  int flags;
  if (mode != nullptr && strcmp(mode, "r") == 0) {
    flags = O_RDONLY;
  } else if (mode != nullptr && strcmp(mode, "a") == 0) {
    flags = O_WRONLY | O_APPEND | O_CREAT;
  } else {
    return Fail(error, EINVAL);
  }
  const int fd = OpenNonBlocking(path, flags);
  if (fd < 0) return Fail(error, errno);
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

int ReadRegularFile(const char* path, std::string* content, int* error) {
  content->clear();
  const int fd = OpenRegularFile(path, "r", error);
  if (fd < 0) return -1;
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n > 0) {
      content->append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      const int err = errno;
      close(fd);
      content->clear();
      return Fail(error, err);
    }
  }
  close(fd);
  return 0;
}

std::string RegularFileErrorText(int error) {
  return error == kNotRegularFile ? std::string("not a regular file") : std::string(strerror(error));
}
