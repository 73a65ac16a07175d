#include "package-digest.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
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

// Why a file could not be used, for a log line.
const char* Why(int err) {
  if (err == EINVAL) return "not a regular file";
  if (err == ENOSYS) return "no SHA-256 implementation could be loaded";
  return strerror(err);
}

// pread() that goes on after a signal. The byte count, or -1 with errno set.
ssize_t ReadAt(int fd, unsigned char* buffer, size_t size, off_t offset) {
  ssize_t n;
  do {
    n = pread(fd, buffer, size, offset);
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

enum class Recorded { kMissing, kFound, kUnreadable, kTooLarge, kMalformed };

// The SHA-256 recorded in the digest file at `path`, in lower case: 64 hex digits at the start,
// followed by the end of the file or white space (and, as the tools write it, the package's name).
Recorded ReadRecordedDigest(const char* path, std::string* hex) {
  std::string text;
  int error = 0;
  if (ReadRegularFile(path, kMaxDigestFile, &text, &error) != 0) {
    if (error == kFileTooLarge) return Recorded::kTooLarge;
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

// Opens the package for reading as every input of the bundle is opened (regular_file.h: never
// waiting, a regular file only) and checks its size on that descriptor. The descriptor, or -1 with
// errno set: the open's error, EINVAL for anything but a regular file, EFBIG beyond kMaxPackageBytes.
int OpenPackage(const char* path) {
  int error = 0;
  const int fd = OpenRegularFile(path, "r", &error);
  if (fd < 0) {
    errno = error == kNotRegularFile ? EINVAL : error;
    return -1;
  }
  struct stat st;
  const int err = fstat(fd, &st) != 0 ? errno : st.st_size > kMaxPackageBytes ? EFBIG : 0;
  if (err == 0) return fd;
  close(fd);
  errno = err;
  return -1;
}

// Logs why the package at `path` counts as damaged after a call failed with `err`: EFBIG is the bound,
// met when the package was opened or, grown since, while `hashing` it.
void LogUnreadablePackage(const char* path, int err, bool hashing = false) {
  if (err == EFBIG) {
    LOG_ERROR(kLog, "package '%s' %s the %lld bytes a bundle may ship, taking it as damaged", path,
              hashing ? "grew beyond" : "is larger than", kMaxPackageBytes);
  } else {
    LOG_ERROR(kLog, "cannot read package '%s': %s (%d), taking it as damaged", path, Why(err), err);
  }
}

}  // namespace

ustring PackageDigestPath(const ustring& package) {
  return package + ".sha256";
}

int FileSha256(int fd, std::string* hex) {
  Sha256 sha;
  if (!sha.usable()) {
    errno = ENOSYS;
    return -1;
  }
  std::vector<unsigned char> buffer(256 * 1024);
  long long offset = 0;
  ssize_t n;
  for (;;) {
    const long long left = kMaxPackageBytes + 1 - offset;  // one byte beyond the bound shows it
    const size_t size =
        left < static_cast<long long>(buffer.size()) ? static_cast<size_t>(left) : buffer.size();
    if ((n = ReadAt(fd, buffer.data(), size, static_cast<off_t>(offset))) <= 0) break;
    offset += n;
    if (offset > kMaxPackageBytes) {  // grown since it was opened
      errno = EFBIG;
      return -1;
    }
    sha.Add(buffer.data(), static_cast<size_t>(n));
  }
  if (n < 0) return -1;
  unsigned char digest[kDigestBytes];
  sha.Finish(digest);
  *hex = Hex(digest, kDigestBytes);
  return 0;
}

namespace {

// What ShippedPackage::Check answers. `*fd` receives the package's descriptor for kWhole, and for
// kNoDigest with a package there; otherwise -1.
PackageCheck OpenAndCheck(const ustring& package, int* fd) {
  *fd = -1;
  const ustring digest_path = PackageDigestPath(package);
  const char* digest_file = digest_path.c_str();
  std::string recorded;
  const Recorded digest = ReadRecordedDigest(digest_file, &recorded);
  switch (digest) {
    case Recorded::kMissing:
    case Recorded::kFound:
      break;
    case Recorded::kUnreadable: {
      const int err = errno;
      LOG_ERROR(kLog, "cannot read the package digest '%s': %s (%d), taking the package as damaged",
                digest_file, Why(err), err);
      return PackageCheck::kDamaged;
    }
    case Recorded::kTooLarge:
      LOG_ERROR(kLog, "package digest '%s' is larger than %zu bytes, taking the package as damaged",
                digest_file, kMaxDigestFile);
      return PackageCheck::kDamaged;
    case Recorded::kMalformed:
      LOG_ERROR(kLog, "package digest '%s' does not start with a SHA-256, taking the package as damaged",
                digest_file);
      return PackageCheck::kDamaged;
  }
  const int opened = OpenPackage(package.c_str());
  const int err = errno;
  if (digest == Recorded::kMissing) {
    // Without a digest a missing package is left to the extraction, which fails and puts the installed
    // copy back; anything else that does not open would stall or fail it with the installed copy moved.
    if (opened < 0 && err != ENOENT) {
      LogUnreadablePackage(package.c_str(), err);
      return PackageCheck::kDamaged;
    }
    LOG_DEBUG(kLog, "no digest '%s' recorded for the package, not checking it", digest_file);
    *fd = opened;
    return PackageCheck::kNoDigest;
  }
  if (opened < 0) {
    LogUnreadablePackage(package.c_str(), err);
    return PackageCheck::kDamaged;
  }
  std::string found;
  if (FileSha256(opened, &found) != 0) {
    LogUnreadablePackage(package.c_str(), errno, true);
    close(opened);
    return PackageCheck::kDamaged;
  }
  if (found != recorded) {
    LOG_ERROR(kLog, "package '%s' is damaged: its SHA-256 is %s, the bundle recorded %s in '%s'",
              package.c_str(), found.c_str(), recorded.c_str(), digest_file);
    close(opened);
    return PackageCheck::kDamaged;
  }
  LOG_DEBUG(kLog, "package '%s' matches its recorded SHA-256 %s", package.c_str(), found.c_str());
  *fd = opened;
  return PackageCheck::kWhole;
}

}  // namespace

ShippedPackage::~ShippedPackage() {
  if (fd_ >= 0) close(fd_);
}

PackageCheck ShippedPackage::Check(const ustring& package) {
  if (!checked_) {
    answer_ = OpenAndCheck(package, &fd_);
    checked_ = true;
  }
  return answer_;
}
