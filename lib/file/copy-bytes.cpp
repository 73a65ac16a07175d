// Copying the bytes of a file (copy-bytes.h).
#include "copy-bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "file-op.h"
#include "log.h"

namespace {

constexpr char kLog[] = "file_op_debug";
constexpr size_t kCopyBufferSize = 8192;

int FullOrQuotaCode(int err) {
  return err == ENOSPC || err == EDQUOT ? -2 : -1;
}

#ifdef F_FULLFSYNC
int FullSync(int fd) {
  return fcntl(fd, F_FULLFSYNC);
}
std::atomic<FSFullSyncCall> full_sync{FullSync};
#else
std::atomic<FSFullSyncCall> full_sync{nullptr};
#endif

// Writes `size` bytes of `buffer` to `out` at `offset` (-1: at its current position). 0, or -1/-2
// (logged).
int WriteAll(int out, const char* buffer, size_t size, off_t offset) {
  for (const char* p = buffer; size > 0;) {
    const ssize_t put = offset < 0 ? write(out, p, size) : pwrite(out, p, size, offset);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      const int err = put == 0 ? EIO : errno;
      LOG_ERROR(kLog, "CopyFile: write: %s (%d)", strerror(err), err);
      return FullOrQuotaCode(err);
    }
    p += put;
    size -= static_cast<size_t>(put);
    if (offset >= 0) offset += put;
  }
  return 0;
}

int ReadFailed() {
  const int err = errno;
  LOG_ERROR(kLog, "CopyFile: read: %s (%d)", strerror(err), err);
  return -1;
}

// Streams the bytes of `in` from its position to its end to `out`. 0, or -1/-2 (logged).
int StreamBytes(int in, int out, char* buffer) {
  while (true) {
    const ssize_t got = read(in, buffer, kCopyBufferSize);
    if (got == 0) return 0;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return ReadFailed();
    const int put = WriteAll(out, buffer, static_cast<size_t>(got), -1);
    if (put != 0) return put;
  }
}

// Whether the file of status `st` holds fewer blocks than its size takes: it has holes.
bool HasHoles(const struct stat& st) {
  return S_ISREG(st.st_mode) &&
         static_cast<unsigned long long>(st.st_blocks) * 512 < static_cast<unsigned long long>(st.st_size);
}

// Copies the `size` bytes of a file with holes as a file with the same holes: only the ranges that
// hold data are written, and `out` is then given its size, so that a copy on another volume takes
// the room the source takes, not its size. 0; 1 when the volume cannot tell where the data lies
// (nothing done: stream the file instead); or -1/-2 (logged).
int CopyDataRanges(int in, int out, off_t size, char* buffer) {
#if defined(SEEK_DATA) && defined(SEEK_HOLE)
  for (off_t at = 0; at < size;) {
    const off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // a hole up to the end
    if (data < 0 && at == 0 && (errno == EINVAL || errno == ENOTSUP)) return 1;
    if (data < 0) return ReadFailed();
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0) return ReadFailed();
    for (at = data, hole = std::min(hole, size); at < hole;) {
      const size_t want = static_cast<size_t>(std::min<off_t>(hole - at, kCopyBufferSize));
      const ssize_t got = pread(in, buffer, want, at);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return ReadFailed();
      if (got == 0) size = hole = at;  // the file shrank meanwhile: it ends here
      const int put = WriteAll(out, buffer, static_cast<size_t>(got), at);
      if (put != 0) return put;
      at += got;
    }
  }
  if (ftruncate(out, size) == 0) return 0;
  const int err = errno;
  LOG_ERROR(kLog, "CopyFile: ftruncate: %s (%d)", strerror(err), err);
  return FullOrQuotaCode(err);
#else
  (void)in, (void)out, (void)size, (void)buffer;
  return 1;
#endif
}

}  // namespace

namespace file_internal {

int SyncToDrive(int fd) {
  if (FSFullSyncCall call = full_sync.load()) {
    if (call(fd) == 0) return 0;
    if (errno != ENOTSUP && errno != EINVAL && errno != ENOTTY) return -1;
  }
  return fsync(fd);
}

int FinishCopy(int out, const ustring& dst) {
  int result = 0;
  if (SyncToDrive(out) != 0 && errno != EINVAL && errno != EROFS) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: fsync(%s): %s (%d)", dst.c_str(), strerror(err), err);
    result = FullOrQuotaCode(err);
  }
  if (close(out) != 0 && result == 0) {
    int err = errno;
    LOG_ERROR(kLog, "CopyFile: close(%s): %s (%d)", dst.c_str(), strerror(err), err);
    result = FullOrQuotaCode(err);
  }
  return result;
}

int CopyBytes(int in, int out) {
  char* buffer = static_cast<char*>(malloc(kCopyBufferSize));
  if (buffer == nullptr) {
    int err = errno;
    LOG_ERROR(kLog, "FSCopy: malloc(%d): %s (%d)", static_cast<int>(kCopyBufferSize), strerror(err), err);
    return -1;
  }
  struct stat st;
  int result = 1;
  if (fstat(in, &st) == 0 && HasHoles(st)) result = CopyDataRanges(in, out, st.st_size, buffer);
  if (result == 1) result = StreamBytes(in, out, buffer);
  free(buffer);
  return result;
}

}  // namespace file_internal

// The test seam of file-op.h, beside the call it swaps.
FSFullSyncCall FSSetFullSync(FSFullSyncCall call) {
  return full_sync.exchange(call);
}
