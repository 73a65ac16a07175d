#include "package-digest.h"

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#ifdef __APPLE__
#include <CommonCrypto/CommonDigest.h>
#else
#include <dlfcn.h>
#include <nettle/sha2.h>
#endif

#include "log.h"
#include "regular_file.h"

namespace {

constexpr const char* kLog = "service_debug";
constexpr size_t kDigestBytes = 32;
constexpr size_t kHexDigits = 2 * kDigestBytes;
// A digest file is one short line; anything much longer is not one.
constexpr size_t kMaxDigestFile = 4096;

#ifdef __APPLE__

// SHA-256 with the platform's implementation; usable() is always true here.
class Sha256 {
 public:
  Sha256() { CC_SHA256_Init(&context_); }
  bool usable() const { return true; }
  void Add(const unsigned char* data, size_t size) {
    while (size > 0) {  // CC_LONG is 32 bits
      const CC_LONG part = size > 0x40000000 ? 0x40000000 : static_cast<CC_LONG>(size);
      CC_SHA256_Update(&context_, data, part);
      data += part;
      size -= part;
    }
  }
  void Finish(unsigned char digest[kDigestBytes]) { CC_SHA256_Final(digest, &context_); }

 private:
  CC_SHA256_CTX context_;
};

#else

// Nettle's SHA-256 functions, loaded the first time a package is checked rather than at every start
// (as libarchive is, archive-on-demand.cpp, which brings Nettle with it on Debian anyway): null, logged
// once, when the library or a function cannot be loaded. Any thread; loaded once.
struct NettleSha256 {
  decltype(&sha256_init) init;
  decltype(&sha256_update) update;
  decltype(&sha256_digest) digest;
};

const NettleSha256* Nettle() {
  static const NettleSha256* const loaded = []() -> const NettleSha256* {
    static const char kLibrary[] = "libnettle.so.8";  // the library's name since Nettle 3.6
    void* handle = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* why = dlerror();
      LOG_ERROR(kLog, "cannot load %s: %s", kLibrary, why != nullptr ? why : "unknown error");
      return nullptr;
    }
    static NettleSha256 functions;
    functions.init = reinterpret_cast<decltype(functions.init)>(dlsym(handle, "nettle_sha256_init"));
    functions.update = reinterpret_cast<decltype(functions.update)>(dlsym(handle, "nettle_sha256_update"));
    functions.digest = reinterpret_cast<decltype(functions.digest)>(dlsym(handle, "nettle_sha256_digest"));
    if (functions.init == nullptr || functions.update == nullptr || functions.digest == nullptr) {
      LOG_ERROR(kLog, "%s has no SHA-256 functions", kLibrary);
      return nullptr;
    }
    return &functions;
  }();
  return loaded;
}

// SHA-256 with the platform's implementation; usable() is false when it could not be loaded.
class Sha256 {
 public:
  Sha256() : nettle_(Nettle()) {
    if (nettle_ != nullptr) nettle_->init(&context_);
  }
  bool usable() const { return nettle_ != nullptr; }
  void Add(const unsigned char* data, size_t size) { nettle_->update(&context_, size, data); }
  void Finish(unsigned char digest[kDigestBytes]) { nettle_->digest(&context_, kDigestBytes, digest); }

 private:
  const NettleSha256* nettle_;
  struct sha256_ctx context_;
};

#endif

// Opens `path` for reading as every file of the bundle is opened (regular_file.h: never waiting, a
// regular file only). The descriptor, or -1 with errno set (EINVAL for anything but a regular file).
int OpenForReading(const char* path) {
  int error = 0;
  const int fd = OpenRegularFile(path, "r", &error);
  if (fd < 0) errno = error == kNotRegularFile ? EINVAL : error;
  return fd;
}

// Why a file could not be used, for a log line.
const char* Why(int err) {
  if (err == EINVAL) return "not a regular file";
  if (err == ENOSYS) return "no SHA-256 implementation could be loaded";
  return strerror(err);
}

// read() that goes on after a signal. The byte count, or -1 with errno set.
ssize_t ReadSome(int fd, unsigned char* buffer, size_t size) {
  ssize_t n;
  do {
    n = read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * size);
  for (size_t i = 0; i < size; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 0xf];
  }
  return hex;
}

enum class Recorded { kMissing, kFound, kUnreadable, kMalformed };

// The SHA-256 recorded in the digest file at `path`, in lower case: 64 hex digits at the start,
// followed by the end of the file or white space (and, as the tools write it, the package's name).
Recorded ReadRecordedDigest(const char* path, std::string* hex) {
  std::string text;
  int error = 0;
  if (ReadRegularFile(path, kMaxDigestFile, &text, &error) != 0) {
    if (error == kFileTooLarge) return Recorded::kMalformed;
    errno = error == kNotRegularFile ? EINVAL : error;
    return errno == ENOENT ? Recorded::kMissing : Recorded::kUnreadable;
  }
  const size_t size = text.size();
  if (size < kHexDigits) return Recorded::kMalformed;
  hex->clear();
  for (size_t i = 0; i < kHexDigits; ++i) {
    const char c = static_cast<char>(text[i]);
    if (c >= '0' && c <= '9') {
      *hex += c;
    } else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
      *hex += static_cast<char>(c | 0x20);
    } else {
      return Recorded::kMalformed;
    }
  }
  if (size > kHexDigits && text[kHexDigits] != ' ' && text[kHexDigits] != '\t' && text[kHexDigits] != '\n' &&
      text[kHexDigits] != '\r')
    return Recorded::kMalformed;
  return Recorded::kFound;
}

// Without a digest, the package is still opened as every input is (never waiting, a regular file only)
// before anything moves: a named pipe there would otherwise stall the upgrade with the installed copy
// already moved aside. False, logged, when something is there that does not open; a missing package
// is left to the extraction, which fails and puts the installed copy back.
bool PackageOpens(const ustring& package) {
  const int fd = OpenForReading(package.c_str());
  if (fd < 0 && errno != ENOENT) {
    const int err = errno;
    LOG_ERROR(kLog, "cannot read package '%s': %s (%d), taking it as damaged", package.c_str(), Why(err),
              err);
    return false;
  }
  if (fd >= 0) close(fd);
  LOG_DEBUG(kLog, "no digest '%s' recorded for the package, not checking it",
            PackageDigestPath(package).c_str());
  return true;
}

}  // namespace

ustring PackageDigestPath(const ustring& package) {
  return package + ".sha256";
}

int FileSha256(const ustring& path, std::string* hex) {
  Sha256 sha;
  if (!sha.usable()) {
    errno = ENOSYS;
    return -1;
  }
  const int fd = OpenForReading(path.c_str());
  if (fd < 0) return -1;
  std::vector<unsigned char> buffer(256 * 1024);
  ssize_t n;
  while ((n = ReadSome(fd, buffer.data(), buffer.size())) > 0) sha.Add(buffer.data(), static_cast<size_t>(n));
  const int err = errno;
  close(fd);
  if (n < 0) {
    errno = err;
    return -1;
  }
  unsigned char digest[kDigestBytes];
  sha.Finish(digest);
  *hex = Hex(digest, kDigestBytes);
  return 0;
}

PackageCheck CheckPackage(const ustring& package) {
  const ustring digest_path = PackageDigestPath(package);
  const char* digest_file = digest_path.c_str();
  std::string recorded;
  switch (ReadRecordedDigest(digest_file, &recorded)) {
    case Recorded::kMissing:
      return PackageOpens(package) ? PackageCheck::kNoDigest : PackageCheck::kDamaged;
    case Recorded::kUnreadable: {
      const int err = errno;
      LOG_ERROR(kLog, "cannot read the package digest '%s': %s (%d), taking the package as damaged",
                digest_file, Why(err), err);
      return PackageCheck::kDamaged;
    }
    case Recorded::kMalformed:
      LOG_ERROR(kLog, "package digest '%s' does not start with a SHA-256, taking the package as damaged",
                digest_file);
      return PackageCheck::kDamaged;
    case Recorded::kFound:
      break;
  }
  std::string found;
  if (FileSha256(package, &found) != 0) {
    const int err = errno;
    LOG_ERROR(kLog, "cannot read package '%s': %s (%d)", package.c_str(), Why(err), err);
    return PackageCheck::kDamaged;
  }
  if (found != recorded) {
    LOG_ERROR(kLog, "package '%s' is damaged: its SHA-256 is %s, the bundle recorded %s in '%s'",
              package.c_str(), found.c_str(), recorded.c_str(), digest_file);
    return PackageCheck::kDamaged;
  }
  LOG_DEBUG(kLog, "package '%s' matches its recorded SHA-256 %s", package.c_str(), found.c_str());
  return PackageCheck::kWhole;
}
