// The libarchive calls the package extractor makes, loading the library the first time one of them is
// called rather than when the program starts. Only an upgrade reads a package, and libarchive brings
// six compression, ACL and XML libraries with it: mapping and relocating them at every start cost
// about 1 MB and 2 ms of a start with nothing to upgrade. The launcher executable is linked so that
// libarchive is needed only where no other definition of these functions exists (--as-needed), and
// these definitions take the place of the library's own. A libarchive call added to the extractor
// must be added here too, or the launcher names libarchive again, which the build refuses
// (check-archive-on-demand.cmake).
//
// On macOS the executable is linked with -dead_strip_dylibs, which leaves out a library nothing calls,
// and the library is loaded from the bundle, where make-bundle deploys it (nothing the executable
// names at start brings it in), or else from the place the build found it (a build folder's launcher).
//
// Each function forwards to the library's function of the same name, looked up once (Find). When the library
// or a function cannot be loaded (each logged once), the allocating functions return null, which the
// extractor reports as a failed allocation, and the others return ARCHIVE_FATAL, null or 0.
// Thread safety: any thread; loading and each look-up happen once (function-local statics).
#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>
#include <string.h>

#include <string>

#include "log.h"

namespace {

const char kLog[] = "extractor_debug";

#ifndef CORVANE_LIBARCHIVE_SONAME
#error \
    "CORVANE_LIBARCHIVE_SONAME must name the libarchive the build links (its SONAME, or on macOS its install name)"
#endif
// The name the library found at configure time gives itself, so the one loaded is the one built against.
const char kLibrary[] = CORVANE_LIBARCHIVE_SONAME;

// The library: on macOS the bundle's copy in Contents/Frameworks first, by the file name of its
// install name; then kLibrary.
void* Open() {
#ifdef __APPLE__
  const char* slash = strrchr(kLibrary, '/');
  const std::string bundled =
      std::string("@executable_path/../Frameworks/") + (slash != nullptr ? slash + 1 : kLibrary);
  if (void* h = dlopen(bundled.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
#endif
  return dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
}

void* Library() {
  static void* const handle = [] {
    void* h = Open();
    if (h == nullptr) {
      const char* why = dlerror();
      LOG_ERROR(kLog, "cannot load %s: %s", kLibrary, why != nullptr ? why : "unknown error");
    }
    return h;
  }();
  return handle;
}

// The library's own `name`, or null (logged) when it has none or cannot be loaded. dlsym on the
// library's handle searches that library first, so a definition in this program never answers.
void* Resolve(const char* name) {
  void* handle = Library();
  if (handle == nullptr) return nullptr;
  void* function = dlsym(handle, name);
  if (function == nullptr) LOG_ERROR(kLog, "%s has no function %s", kLibrary, name);
  return function;
}

// The library's own function `name`, of the type of the first argument (the definition below of the
// same name, passed only for its type), or null (logged) when it cannot be found. Each definition
// below keeps the answer in a static of its own, so the look-up happens once per function.
template <typename Result, typename... Params>
auto Find(Result (*)(Params...), const char* name) -> Result (*)(Params...) {
  return reinterpret_cast<Result (*)(Params...)>(Resolve(name));
}

}  // namespace

// Each forwards to the library's function of the same name, or returns the failure the extractor
// already handles when that function is not available.
extern "C" {

archive* archive_read_new(void) {
  static const auto library = Find(archive_read_new, "archive_read_new");
  return library != nullptr ? library() : nullptr;
}

archive* archive_write_disk_new(void) {
  static const auto library = Find(archive_write_disk_new, "archive_write_disk_new");
  return library != nullptr ? library() : nullptr;
}

int archive_read_support_filter_all(archive* a) {
  static const auto library = Find(archive_read_support_filter_all, "archive_read_support_filter_all");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_read_support_format_all(archive* a) {
  static const auto library = Find(archive_read_support_format_all, "archive_read_support_format_all");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_read_open_filename(archive* a, const char* file, size_t block) {
  static const auto library = Find(archive_read_open_filename, "archive_read_open_filename");
  return library != nullptr ? library(a, file, block) : ARCHIVE_FATAL;
}

int archive_read_open_fd(archive* a, int fd, size_t block) {
  static const auto library = Find(archive_read_open_fd, "archive_read_open_fd");
  return library != nullptr ? library(a, fd, block) : ARCHIVE_FATAL;
}

int archive_read_next_header(archive* a, archive_entry** entry) {
  static const auto library = Find(archive_read_next_header, "archive_read_next_header");
  return library != nullptr ? library(a, entry) : ARCHIVE_FATAL;
}

int archive_read_data_block(archive* a, const void** buffer, size_t* size, la_int64_t* offset) {
  static const auto library = Find(archive_read_data_block, "archive_read_data_block");
  return library != nullptr ? library(a, buffer, size, offset) : ARCHIVE_FATAL;
}

int archive_read_data_skip(archive* a) {
  static const auto library = Find(archive_read_data_skip, "archive_read_data_skip");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_read_close(archive* a) {
  static const auto library = Find(archive_read_close, "archive_read_close");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_read_free(archive* a) {
  static const auto library = Find(archive_read_free, "archive_read_free");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_write_disk_set_options(archive* a, int flags) {
  static const auto library = Find(archive_write_disk_set_options, "archive_write_disk_set_options");
  return library != nullptr ? library(a, flags) : ARCHIVE_FATAL;
}

la_ssize_t archive_write_data_block(archive* a, const void* buffer, size_t size, la_int64_t offset) {
  static const auto library = Find(archive_write_data_block, "archive_write_data_block");
  return library != nullptr ? library(a, buffer, size, offset) : ARCHIVE_FATAL;
}

int archive_write_header(archive* a, archive_entry* entry) {
  static const auto library = Find(archive_write_header, "archive_write_header");
  return library != nullptr ? library(a, entry) : ARCHIVE_FATAL;
}

int archive_write_finish_entry(archive* a) {
  static const auto library = Find(archive_write_finish_entry, "archive_write_finish_entry");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_write_close(archive* a) {
  static const auto library = Find(archive_write_close, "archive_write_close");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_write_free(archive* a) {
  static const auto library = Find(archive_write_free, "archive_write_free");
  return library != nullptr ? library(a) : ARCHIVE_FATAL;
}

int archive_errno(archive* a) {
  static const auto library = Find(archive_errno, "archive_errno");
  return library != nullptr ? library(a) : 0;
}

const char* archive_error_string(archive* a) {
  static const auto library = Find(archive_error_string, "archive_error_string");
  return library != nullptr ? library(a) : nullptr;
}

__LA_MODE_T archive_entry_filetype(archive_entry* e) {
  static const auto library = Find(archive_entry_filetype, "archive_entry_filetype");
  return library != nullptr ? library(e) : 0;
}

__LA_MODE_T archive_entry_perm(archive_entry* e) {
  static const auto library = Find(archive_entry_perm, "archive_entry_perm");
  return library != nullptr ? library(e) : 0;
}

la_int64_t archive_entry_size(archive_entry* e) {
  static const auto library = Find(archive_entry_size, "archive_entry_size");
  return library != nullptr ? library(e) : 0;
}

int archive_entry_size_is_set(archive_entry* e) {
  static const auto library = Find(archive_entry_size_is_set, "archive_entry_size_is_set");
  return library != nullptr ? library(e) : 0;
}

const char* archive_entry_pathname(archive_entry* e) {
  static const auto library = Find(archive_entry_pathname, "archive_entry_pathname");
  return library != nullptr ? library(e) : nullptr;
}

const char* archive_entry_hardlink(archive_entry* e) {
  static const auto library = Find(archive_entry_hardlink, "archive_entry_hardlink");
  return library != nullptr ? library(e) : nullptr;
}

void archive_entry_set_pathname(archive_entry* e, const char* name) {
  static const auto library = Find(archive_entry_set_pathname, "archive_entry_set_pathname");
  if (library != nullptr) library(e, name);
}

void archive_entry_set_hardlink(archive_entry* e, const char* name) {
  static const auto library = Find(archive_entry_set_hardlink, "archive_entry_set_hardlink");
  if (library != nullptr) library(e, name);
}

void archive_entry_set_perm(archive_entry* e, __LA_MODE_T mode) {
  static const auto library = Find(archive_entry_set_perm, "archive_entry_set_perm");
  if (library != nullptr) library(e, mode);
}

const char* archive_entry_symlink(archive_entry* e) {
  static const auto library = Find(archive_entry_symlink, "archive_entry_symlink");
  return library != nullptr ? library(e) : nullptr;
}

const void* archive_entry_mac_metadata(archive_entry* e, size_t* size) {
  static const auto library = Find(archive_entry_mac_metadata, "archive_entry_mac_metadata");
  if (library != nullptr) return library(e, size);
  *size = 0;
  return nullptr;
}

void archive_entry_acl_clear(archive_entry* e) {
  static const auto library = Find(archive_entry_acl_clear, "archive_entry_acl_clear");
  if (library != nullptr) library(e);
}

void archive_entry_xattr_clear(archive_entry* e) {
  static const auto library = Find(archive_entry_xattr_clear, "archive_entry_xattr_clear");
  if (library != nullptr) library(e);
}

void archive_entry_xattr_add_entry(archive_entry* e, const char* name, const void* value, size_t size) {
  static const auto library = Find(archive_entry_xattr_add_entry, "archive_entry_xattr_add_entry");
  if (library != nullptr) library(e, name, value, size);
}

int archive_entry_xattr_reset(archive_entry* e) {
  static const auto library = Find(archive_entry_xattr_reset, "archive_entry_xattr_reset");
  return library != nullptr ? library(e) : 0;
}

// ARCHIVE_WARN is the end of the list, as the library's own function reports it.
int archive_entry_xattr_next(archive_entry* e, const char** name, const void** value, size_t* size) {
  static const auto library = Find(archive_entry_xattr_next, "archive_entry_xattr_next");
  return library != nullptr ? library(e, name, value, size) : ARCHIVE_WARN;
}

}  // extern "C"
