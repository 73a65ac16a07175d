// The predecessor's migration: Service::MigrateService, PredecessorExists and UnfinishedMigration
// (cloud-service.h), and the mark that lets a later start finish a migration with nothing but what it
// had moved.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <string>

#include "cloud-service.h"
#include "config.h"
#include "file-op.h"
#include "log.h"
#include "set-aside.h"
#include "user-paths.h"

namespace {

constexpr const char* kLog = "service_debug";

// In ~/.Corvane from the start of a migration until it has finished. What it says (key=value):
//   skyhold_ino=<n>  the entry ~/.Skyhold (a folder or a link) whose data is being moved, by its inode
//                    number: only that entry is ever taken away, never one made later in its place;
//   set_aside=1      ~/.Skyhold is gone; only what was set aside under ~/.Skyhold_trash.* is left
//                    to remove;
//   nothing          an earlier launcher's mark: its data may not have moved.
constexpr char kMigrationMark[] = ".skyhold-migration";

// `folder` with the folders above it in their stored form (a home reached through a link resolved)
// and its own name as given, so that an exact test still tells whether the folder is kept under
// this very spelling. `folder` itself when the folders above cannot be resolved.
ustring WithStoredParent(const ustring& folder) {
  ustring parent = FSParentPath(folder);
  if (FSGetRealPath(parent) != 0) return folder;
  return (parent == ustring("/") ? parent : parent + "/") + FSBaseName(folder);
}

// The folders a migration works on, their parents in stored form: the predecessor's files, the
// link ~/.Skyhold when it is one (else empty), and the current product's folder.
struct MigrationFolders {
  ustring old_folder;
  ustring old_link;
  ustring new_folder;
  // ~/.Skyhold itself: the link when it is one, else the folder.
  const ustring& entry() const { return old_link.empty() ? old_folder : old_link; }
  ustring mark() const { return new_folder + "/" + kMigrationMark; }
};

// False, with a WARNING, when ~/.Skyhold links to a folder holding the home or ~/.Corvane, or lying
// inside ~/.Corvane: its data is not the predecessor's alone.
bool FindMigrationFolders(MigrationFolders* f) {
  f->old_folder = WithStoredParent(Utf8(QDir::toNativeSeparators(RegistryPath("user_skyhold_path"))));
  f->new_folder = WithStoredParent(Utf8(QDir::toNativeSeparators(RegistryPath("user_corvane_path"))));
  _FILE_INFO_tag info;
  if (FSStat(f->old_folder, info, true) != 0 || info.type != FILE_TYPE_SYMLINK) return true;
  f->old_link = f->old_folder;
  ustring target = f->old_folder;
  if (FSGetRealPath(target) != 0) return true;  // a dangling link: only the link goes
  ustring home = Utf8(QDir::toNativeSeparators(Service::GetUserInstallPath())), corvane = f->new_folder;
  FSGetRealPath(home);
  FSGetRealPath(corvane);
  if (FSIsParentFolder(target, home) || FSIsParentFolder(target, corvane) ||
      FSIsParentFolder(corvane, target)) {
    LOG_WARNING(kLog, "'%s' links to '%s', which holds the home or the Corvane folder: not migrating it",
                f->old_folder.c_str(), target.c_str());
    return false;
  }
  f->old_folder = target;
  return true;
}

// The inode number of the entry at `path` itself (a link is not followed); 0 when there is none.
unsigned long long InodeOf(const ustring& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? static_cast<unsigned long long>(st.st_ino) : 0;
}

// What the mark says (see kMigrationMark).
struct MigrationMark {
  bool present = false;
  bool set_aside = false;
  unsigned long long skyhold_ino = 0;
};

// Reads the mark of `f`. Whatever is at its name and is not a regular file was not written by a
// launcher: it is set aside (beside the private bundle `app`, whose set-aside copies are removed on
// every start) and read as an earlier launcher's mark. Never blocks, never follows a link.
MigrationMark ReadMigrationMark(const MigrationFolders& f, const ustring& app) {
  MigrationMark mark;
  struct stat st;
  if (lstat(f.mark().c_str(), &st) != 0) return mark;
  mark.present = true;
  Config config;
  if (!S_ISREG(st.st_mode) || config.read(f.mark().c_str()) != 0) {
    LOG_WARNING(kLog, "cannot read the migration mark '%s', taking it for an earlier launcher's",
                f.mark().c_str());
    if (!S_ISREG(st.st_mode)) SetAside(app, f.mark());
    return mark;
  }
  mark.set_aside = config.get_int("set_aside") == 1;
  mark.skyhold_ino = strtoull(config.entries["skyhold_ino"].c_str(), nullptr, 10);
  return mark;
}

// Replaces the mark of `f` with `text`, forced to the drive. Whatever is at its name and is not a
// regular file is set aside first (beside `app`). False, with a WARNING, when it cannot be written.
bool WriteMigrationMark(const MigrationFolders& f, const ustring& app, const std::string& text) {
  const ustring mark = f.mark();
  struct stat st;
  if (lstat(mark.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) SetAside(app, mark);
  FSBeforeChange();
  errno = 0;
  int err = 0;
  const int fd = open(mark.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0 || fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = EINVAL;  // put there since the test above
  } else if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    err = errno != 0 ? errno : EIO;
  } else if (FSSyncDescriptor(fd) != 0) {
    err = errno;
  }
  if (fd >= 0) close(fd);
  if (err == 0) return true;
  LOG_WARNING(kLog, "cannot write the migration mark '%s': %s (%d)", mark.c_str(), strerror(err), err);
  return false;
}

void RemoveMigrationMark(const MigrationFolders& f) {
  struct stat st;
  if (lstat(f.mark().c_str(), &st) == 0 && S_ISREG(st.st_mode)) FSRemove(f.mark(), false);
}

// Moves the predecessor's data of `f` into the Corvane folder. True when it has moved (or there was
// none); false, logged, when it is still where it was.
bool MovePredecessorData(const MigrationFolders& f) {
  const ustring old_data = f.old_folder + "/data", new_data = f.new_folder + "/data";
  if (IsFileExist(old_data, true) && FSRename(old_data, new_data, true) < 0) {
    const int err = errno;
    LOG_ERROR(kLog, "Failed to move data to Corvane folder");
    LOG_ERROR(kLog, "'%s' to '%s': %s (%d)", old_data.c_str(), new_data.c_str(), strerror(err), err);
  }
  // Whatever kept the data where it is (a non-empty ~/.Corvane/data, a move cut off half-way, a path
  // not in its stored form), the folder that holds it must stay.
  if (!IsFileExist(old_data, false)) return true;
  LOG_ERROR(kLog, "keeping '%s': its data was not moved", f.old_folder.c_str());
  return false;
}

// Takes ~/.Skyhold away once its data has moved, touching nothing but what was the predecessor's: a
// link goes as a link, and the folder it leads to keeps whatever else it holds (the user's own files
// on a drive, say); a folder is set aside in one rename (~/.Skyhold_trash.<random>) and then removed,
// so that what cannot be removed is retried alone, under that name, and whatever is written to
// ~/.Skyhold later is never touched. True when nothing is left to remove.
bool TakeAwayPredecessor(const MigrationFolders& f, const ustring& app) {
  if (!f.old_link.empty()) {
    if (FSRemove(f.old_link, false) == 0) {
      LOG_INFO(kLog, "removed the link '%s'; what it leads to keeps all but the data that moved",
               f.old_link.c_str());
      return true;
    }
    const int err = errno;
    LOG_ERROR(kLog, "Failed to remove old .Skyhold folder");
    LOG_ERROR(kLog, "'%s': %s (%d)", f.old_link.c_str(), strerror(err), err);
    return false;
  }
  if (IsFileExist(f.old_folder, false) && !SetAside(f.old_folder, f.old_folder)) {
    LOG_ERROR(kLog, "Failed to remove old .Skyhold folder");
    LOG_ERROR(kLog, "'%s' stays as it is: it cannot be set aside for removal", f.old_folder.c_str());
    RemoveMigrationMark(f);  // emptying it in place would reach what the predecessor writes there later
    return false;
  }
  // From here on the mark names no entry, so a folder made later under a reused number is never taken.
  WriteMigrationMark(f, app, "set_aside=1\n");
  if (RemoveSetAside(f.entry())) return true;
  LOG_ERROR(kLog, "Failed to remove old .Skyhold folder");
  return false;
}

}  // namespace

void Service::MigrateService() {
  migration_ran = true;
  MigrationFolders f;
  if (!FindMigrationFolders(&f)) return;
  if (!IsFileExist(f.new_folder, true) && FSMKDir(f.new_folder, true) < 0) {
    LOG_ERROR(kLog, "Failed to create Corvane folder");
    return;
  }
  const unsigned long long ino = InodeOf(f.entry());
  if (ino == 0) return;  // gone meanwhile
  // Before anything moves, so that a start cut short anywhere is finished with this entry only.
  WriteMigrationMark(f, app_path, "skyhold_ino=" + std::to_string(ino) + "\n");
  if (MovePredecessorData(f) && TakeAwayPredecessor(f, app_path)) RemoveMigrationMark(f);
}

bool Service::PredecessorExists() {
  MigrationFolders f;
  return FindMigrationFolders(&f) && IsFileExist(f.old_folder, true);
}

Service::MigrationLeft Service::UnfinishedMigration() {
  MigrationFolders f;
  if (migration_ran || !FindMigrationFolders(&f)) return MigrationLeft::kNothing;
  const MigrationMark mark = ReadMigrationMark(f, app_path);
  if (!mark.present) return MigrationLeft::kNothing;
  // What was set aside is out of everyone's way: it goes now, without stopping anything.
  // Always beside ~/.Skyhold itself in the home, never beside the folder a link leads to.
  if (!RemoveSetAside(f.entry())) return MigrationLeft::kNothing;
  // Data still there is moved whatever the entry's number (a restored home renumbers it), unless the
  // migration had finished with it: then it is a new ~/.Skyhold's.
  const bool same_entry = mark.skyhold_ino != 0 && mark.skyhold_ino == InodeOf(f.entry());
  const ustring old_data = f.old_folder + "/data", new_data = f.new_folder + "/data";
  if (!mark.set_aside && IsFileExist(old_data, false)) {
    ustring blocked;
    if (FSCheckMove(old_data, new_data, blocked) != 0) {
      const int err = errno;
      LOG_WARNING(kLog, "the data in '%s' still cannot move to '%s' ('%s': %s), nothing stopped",
                  old_data.c_str(), new_data.c_str(), blocked.c_str(), strerror(err));
      return MigrationLeft::kNothing;
    }
    LOG_WARNING(kLog, "the data in '%s' was not moved to '%s' before, moving it again", old_data.c_str(),
                new_data.c_str());
    return MigrationLeft::kData;
  }
  if (same_entry) {
    LOG_WARNING(kLog, "'%s' was not taken away when its data moved, taking it away again", f.entry().c_str());
    return MigrationLeft::kFolder;
  }
  RemoveMigrationMark(f);  // anything at ~/.Skyhold now was made after the migration: not ours
  return MigrationLeft::kNothing;
}
