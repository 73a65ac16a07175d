// The libarchive calls the package extractor makes, loading the library the first time one of them is
// called rather than when the program starts. Only an upgrade reads a package, and libarchive brings
// six compression, ACL and XML libraries with it: mapping and relocating them at every start cost
// about 1 MB and 2 ms of a start with nothing to upgrade. The launcher executable is linked so that
// libarchive is needed only where no other definition of these functions exists (--as-needed), and
// these definitions take the place of the library's own. A libarchive call added to the extractor
// must be added here too, or the launcher names libarchive again (`readelf -d` shows it).
//
// Each function forwards to the library's function of the same name, looked up once. When the library
// or a function cannot be loaded (each logged once), the allocating functions return null, which the
// extractor reports as a failed allocation, and the others return ARCHIVE_FATAL, null or 0.
// Thread safety: any thread; loading and each look-up happen once (function-local statics).
#include <archive.h>
#include <archive_entry.h>
#include <dlfcn.h>

#include "log.h"

namespace {

const char kLog[] = "extractor_debug";

const char kLibrary[] = "libarchive.so.13";  // the library's name since libarchive 3.0

void* Library() {
  static void* const handle = [] {
    void* h = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
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

}  // namespace

// Defines `name` with the header's parameter list `params` and return type `result`, calling the
// library's function with `args`, or returning `failure` when it is not available.
#define CORVANE_FORWARD(result, name, params, args, failure)                     \
  result name params {                                                           \
    using Function = result(*) params;                                           \
    static const Function function = reinterpret_cast<Function>(Resolve(#name)); \
    if (function == nullptr) return failure;                                     \
    return function args;                                                        \
  }

// The same for a function that returns nothing.
#define CORVANE_FORWARD_VOID(name, params, args)                                 \
  void name params {                                                             \
    using Function = void(*) params;                                             \
    static const Function function = reinterpret_cast<Function>(Resolve(#name)); \
    if (function != nullptr) function args;                                      \
  }

extern "C" {

CORVANE_FORWARD(archive*, archive_read_new, (void), (), nullptr)
CORVANE_FORWARD(archive*, archive_write_disk_new, (void), (), nullptr)
CORVANE_FORWARD(int, archive_read_support_filter_all, (archive * a), (a), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_support_format_all, (archive * a), (a), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_open_filename, (archive * a, const char* file, size_t block),
                (a, file, block), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_next_header, (archive * a, archive_entry** entry), (a, entry),
                ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_data_block,
                (archive * a, const void** buffer, size_t* size, la_int64_t* offset),
                (a, buffer, size, offset), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_data_skip, (archive * a), (a), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_extract2, (archive * a, archive_entry* entry, archive* dest),
                (a, entry, dest), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_close, (archive * a), (a), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_read_free, (archive * a), (a), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_write_disk_set_options, (archive * a, int flags), (a, flags), ARCHIVE_FATAL)
CORVANE_FORWARD(la_ssize_t, archive_write_data_block,
                (archive * a, const void* buffer, size_t size, la_int64_t offset), (a, buffer, size, offset),
                ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_write_finish_entry, (archive * a), (a), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_write_free, (archive * a), (a), ARCHIVE_FATAL)
CORVANE_FORWARD(int, archive_errno, (archive * a), (a), 0)
CORVANE_FORWARD(const char*, archive_error_string, (archive * a), (a), nullptr)
CORVANE_FORWARD(__LA_MODE_T, archive_entry_filetype, (archive_entry * e), (e), 0)
CORVANE_FORWARD(__LA_MODE_T, archive_entry_perm, (archive_entry * e), (e), 0)
CORVANE_FORWARD(const char*, archive_entry_pathname, (archive_entry * e), (e), nullptr)
CORVANE_FORWARD(const char*, archive_entry_hardlink, (archive_entry * e), (e), nullptr)
CORVANE_FORWARD_VOID(archive_entry_set_pathname, (archive_entry * e, const char* name), (e, name))
CORVANE_FORWARD_VOID(archive_entry_set_hardlink, (archive_entry * e, const char* name), (e, name))
CORVANE_FORWARD_VOID(archive_entry_set_perm, (archive_entry * e, __LA_MODE_T mode), (e, mode))

}  // extern "C"
