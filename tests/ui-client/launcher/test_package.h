// Archives made by the tests themselves with libarchive's writer (gzip-compressed tar or zip), the
// log set up for the extractor and service tests, and the gate that keeps tests from starting the
// real Launch Services tools.
#ifndef CORVANE_TESTS_UI_CLIENT_LAUNCHER_TEST_PACKAGE_H_
#define CORVANE_TESTS_UI_CLIENT_LAUNCHER_TEST_PACKAGE_H_

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <stdio.h>

#include <QString>
#include <string>
#include <vector>

#include "launch-services.h"
#include "log.h"

namespace testpackage {

struct Entry {
  enum Kind { kFile, kDir, kSymlink, kHardlink, kSpecial };
  Kind kind;
  std::string name;
  std::string data;  // a file's bytes, or a link's target
  int mode = 0;      // 0: 0644 for files, 0755 for folders, 0777 for links; a special's AE_IF* type
};

inline Entry File(const std::string& name, const std::string& data, int mode = 0) {
  return Entry{Entry::kFile, name, data, mode};
}
inline Entry Dir(const std::string& name, int mode = 0) {
  return Entry{Entry::kDir, name, "", mode};
}
inline Entry Symlink(const std::string& name, const std::string& target) {
  return Entry{Entry::kSymlink, name, target, 0};
}
inline Entry Hardlink(const std::string& name, const std::string& target) {
  return Entry{Entry::kHardlink, name, target, 0};
}

// A FIFO, device or socket entry; `type` is AE_IFIFO, AE_IFCHR, AE_IFBLK or AE_IFSOCK.
inline Entry Special(const std::string& name, int type) {
  return Entry{Entry::kSpecial, name, "", type};
}

// kTar: pax without compression. kZipNoUtf8: zip whose names are flagged as not UTF-8 (as from tools
// that store names in the local code page), the bytes unchanged.
enum class Format { kTarGz, kZip, kTar, kZipNoUtf8 };

// Clears the UTF-8 name flag (bit 11) in every local and central header of the zip in `bytes`.
inline void ClearZipUtf8Flags(std::string* bytes) {
  for (size_t i = 0; i + 10 < bytes->size(); ++i) {
    if ((*bytes)[i] != 'P' || (*bytes)[i + 1] != 'K') continue;
    size_t flags = 0;
    if ((*bytes)[i + 2] == 3 && (*bytes)[i + 3] == 4)
      flags = i + 6;  // local file header
    else if ((*bytes)[i + 2] == 1 && (*bytes)[i + 3] == 2)
      flags = i + 8;  // central directory header
    if (flags != 0) (*bytes)[flags + 1] = static_cast<char>((*bytes)[flags + 1] & ~0x08);
  }
}

// The calling thread under a UTF-8 character type while it lives: libarchive's writer converts names
// from the locale, so under a plain "C" one (a test run with no locale at all) it would write other
// bytes than the package a test asks for.
class Utf8Names {
 public:
  Utf8Names() : utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0))) {
    if (utf8_ != static_cast<locale_t>(0)) previous_ = uselocale(utf8_);
  }
  ~Utf8Names() {
    if (utf8_ == static_cast<locale_t>(0)) return;
    uselocale(previous_);
    freelocale(utf8_);
  }

 private:
  locale_t utf8_;
  locale_t previous_ = static_cast<locale_t>(0);
};

// Writes `entries`, in order, to a new archive at `path`, their names as the UTF-8 bytes given. An
// empty string on success, else why not.
inline std::string WriteArchive(const std::string& path, const std::vector<Entry>& entries,
                                Format format = Format::kTarGz) {
  Utf8Names utf8;
  archive* a = archive_write_new();
  if (format == Format::kTarGz || format == Format::kTar) {
    if (format == Format::kTarGz) archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
  } else {
    archive_write_set_format_zip(a);
  }
  if (archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) {
    std::string why = archive_error_string(a);
    archive_write_free(a);
    return why;
  }
  std::string why;
  for (const Entry& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_mtime(entry, 1700000000, 0);
    switch (e.kind) {
      case Entry::kFile:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, e.mode ? e.mode : 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
        break;
      case Entry::kDir:
        archive_entry_set_filetype(entry, AE_IFDIR);
        archive_entry_set_perm(entry, e.mode ? e.mode : 0755);
        break;
      case Entry::kSymlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_perm(entry, 0777);
        archive_entry_set_symlink(entry, e.data.c_str());
        break;
      case Entry::kHardlink:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_hardlink(entry, e.data.c_str());
        archive_entry_set_size(entry, 0);
        break;
      case Entry::kSpecial:
        archive_entry_set_filetype(entry, e.mode);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_rdev(entry, 0x0103);
        break;
    }
    if (archive_write_header(a, entry) < ARCHIVE_WARN) why = archive_error_string(a);
    if (why.empty() && e.kind == Entry::kFile && !e.data.empty() &&
        archive_write_data(a, e.data.data(), e.data.size()) < 0)
      why = archive_error_string(a);
    archive_entry_free(entry);
    if (!why.empty()) break;
  }
  if (archive_write_close(a) != ARCHIVE_OK && why.empty()) why = archive_error_string(a);
  archive_write_free(a);
  if (why.empty() && format == Format::kZipNoUtf8) {
    std::string bytes;
    if (FILE* f = fopen(path.c_str(), "rb")) {
      char buf[65536];
      size_t n;
      while ((n = fread(buf, 1, sizeof(buf), f)) > 0) bytes.append(buf, n);
      fclose(f);
    }
    ClearZipUtf8Flags(&bytes);
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size())
      why = "cannot rewrite " + path;
    if (f != nullptr && fclose(f) != 0) why = "cannot rewrite " + path;
  }
  return why;
}

// Sends every level of the service, extractor and file-layer components to `dir`/launcher.log.
inline void LogTo(const std::string& dir) {
  const std::string levels = dir + "/launcher.debug";
  FILE* f = fopen(levels.c_str(), "w");
  if (f != nullptr) {
    fputs("service_debug=7\nextractor_debug=7\nfile_op_debug=7\n", f);
    fclose(f);
  }
  Logger::Initialize(Logger::TYPE_FILE, dir + "/launcher.log", levels, 50, Logger::SCOPE_THREAD);
}

// Lets the launch layer run only programs below `root` (the test's own folder), and requests that run
// nothing (unregistering where there is no Launch Services database): never lsregister or
// /usr/bin/open, which on a Mac would start the client through launchd with the user's real home
// folder. Remove it with launch_services::SetGate(nullptr).
inline void AllowLaunchesOnlyBelow(const std::string& root) {
  const QString prefix = QString::fromStdString(root) + "/";
  launch_services::SetGate([prefix](const launch_services::Request& request) {
    return request.program.isEmpty() || request.program.startsWith(prefix);
  });
}

}  // namespace testpackage

#endif  // CORVANE_TESTS_UI_CLIENT_LAUNCHER_TEST_PACKAGE_H_
