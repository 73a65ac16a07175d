#include "harness.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __APPLE__
#include <xlocale.h>  // newlocale, uselocale
#endif

#include <QByteArray>
#include <QCryptographicHash>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "running_ui.h"
#include "temp_dir.h"
#include "whole_run.h"

namespace fs = std::filesystem;

namespace reliability {
namespace {

const std::string kBundle = testsupport::BuiltBundle(CORVANE_BUNDLE);

std::string Info(int build) {
  return "[Version]\nmajor_version=1\nminor_version=0\nbuild_version=" + std::to_string(build) +
         "\nicon_overlay_version=1\n";
}

// Deterministic, poorly compressible bytes.
std::string Filler(int n, size_t size, const std::string& flavour) {
  std::string data(size, '\0');
  uint32_t x = 2166136261u ^ static_cast<uint32_t>(n * 7919);
  for (char c : flavour) x = (x ^ static_cast<unsigned char>(c)) * 16777619u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data[i] = static_cast<char>(x);
  }
  return data;
}

void WriteArchive(const std::string& path, const std::vector<Entry>& entries, Format format);

}  // namespace

std::string FillerName(int n) {
  char name[64];
  snprintf(name, sizeof(name), "Contents/Resources/fill/d%02d/f%04d", n / 100, n);
  return name;
}

std::vector<Entry> BundleEntries(int build, int fillers, size_t filler_size, const std::string& flavour) {
  const std::string fw = "Contents/Frameworks/CorvaneCore.framework";
  std::vector<Entry> e = {
      {Entry::kDir, "Contents", "", 0755},
      {Entry::kFile, "Contents/Info.plist", "<plist><dict><key>CFBundleExecutable</key></dict></plist>\n",
       0644},
      {Entry::kDir, "Contents/MacOS", "", 0755},
      // Never to "/ui-started": without TMPDIR the start is not recorded.
      {Entry::kFile, "Contents/MacOS/corvane-ui",
       "#!/bin/sh\n[ -n \"$TMPDIR\" ] && echo \"$0\" >> \"$TMPDIR/ui-started\"\nexit 0\n", 0755},
      {Entry::kDir, "Contents/Resources", "", 0755},
      {Entry::kFile, "Contents/Resources/INFO", Info(build), 0644},
      {Entry::kFile, "Contents/Resources/LICENSE", "Corvane Client " + flavour + "\n", 0644},
      {Entry::kDir, "Contents/SharedSupport", "", 0755},
      {Entry::kHardlink, "Contents/SharedSupport/LICENSE", "Contents/Resources/LICENSE", 0644},
      {Entry::kDir, "Contents/Frameworks", "", 0755},
      {Entry::kDir, fw, "", 0755},
      {Entry::kDir, fw + "/Versions", "", 0755},
      {Entry::kDir, fw + "/Versions/A", "", 0755},
      {Entry::kFile, fw + "/Versions/A/CorvaneCore", "core " + flavour + "\n", 0755},
      {Entry::kSymlink, fw + "/Versions/Current", "A", 0777},
      {Entry::kSymlink, fw + "/CorvaneCore", "Versions/Current/CorvaneCore", 0777},
      {Entry::kDir, "Contents/Resources/fill", "", 0755},
  };
  for (int n = 0; n < fillers; ++n) {
    if (n % 100 == 0) {
      const std::string name = FillerName(n);
      e.push_back({Entry::kDir, name.substr(0, name.rfind('/')), "", 0755});
    }
    e.push_back({Entry::kFile, FillerName(n), Filler(n, filler_size, flavour), 0644});
  }
  return e;
}

void WritePackage(const std::string& path, const std::vector<Entry>& entries, Format format) {
  // The writers convert names through the thread's character type: a UTF-8 one keeps them as they are
  // whatever locale the test runs under (a plain "C" one would make libarchive fail on "Résumé").
  const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  ASSERT_NE(utf8, static_cast<locale_t>(0)) << "no C.UTF-8 locale: " << strerror(errno);
  const locale_t previous = uselocale(utf8);
  WriteArchive(path, entries, format);
  uselocale(previous);
  freelocale(utf8);
}

namespace {

void WriteArchive(const std::string& path, const std::vector<Entry>& entries, Format format) {
  archive* a = archive_write_new();
  if (format == Format::kZip) {
    archive_write_set_format_zip(a);
  } else {
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
  }
  ASSERT_EQ(archive_write_open_filename(a, path.c_str()), ARCHIVE_OK) << archive_error_string(a);
  for (const Entry& e : entries) {
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname_utf8(entry, e.name.c_str());
    archive_entry_set_mtime(entry, 1700000000, 0);
    archive_entry_set_perm(entry, e.mode);
    switch (e.kind) {
      case Entry::kFile:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_size(entry, static_cast<la_int64_t>(e.data.size()));
        break;
      case Entry::kDir:
        archive_entry_set_filetype(entry, AE_IFDIR);
        break;
      case Entry::kSymlink:
        archive_entry_set_filetype(entry, AE_IFLNK);
        archive_entry_set_symlink_utf8(entry, e.data.c_str());
        break;
      case Entry::kHardlink:
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_hardlink_utf8(entry, e.data.c_str());
        archive_entry_set_size(entry, 0);
        break;
      case Entry::kFifo:
        archive_entry_set_filetype(entry, AE_IFIFO);
        break;
      case Entry::kCharDevice:
        archive_entry_set_filetype(entry, AE_IFCHR);
        archive_entry_set_rdevmajor(entry, 1);  // /dev/null's numbers
        archive_entry_set_rdevminor(entry, 3);
        break;
    }
    EXPECT_GE(archive_write_header(a, entry), ARCHIVE_WARN) << archive_error_string(a);
    if (e.kind == Entry::kFile && !e.data.empty()) {
      EXPECT_EQ(archive_write_data(a, e.data.data(), e.data.size()), static_cast<la_ssize_t>(e.data.size()));
    }
    archive_entry_free(entry);
  }
  EXPECT_EQ(archive_write_close(a), ARCHIVE_OK) << archive_error_string(a);
  archive_write_free(a);
}

}  // namespace

void WriteTree(const std::string& root, const std::vector<Entry>& entries) {
  fs::create_directories(root);
  for (const Entry& e : entries) {
    const std::string path = root + "/" + e.name;
    switch (e.kind) {
      case Entry::kFile:
        fs::create_directories(path.substr(0, path.rfind('/')));
        testsupport::WriteFile(path, e.data);
        chmod(path.c_str(), e.mode);
        break;
      case Entry::kDir:
        fs::create_directories(path);
        chmod(path.c_str(), e.mode);
        break;
      case Entry::kSymlink:
        ASSERT_EQ(symlink(e.data.c_str(), path.c_str()), 0) << path << ": " << strerror(errno);
        break;
      case Entry::kHardlink:
        ASSERT_EQ(link((root + "/" + e.data).c_str(), path.c_str()), 0) << path << ": " << strerror(errno);
        break;
      default:
        FAIL() << "no tree holds special files: " << e.name;
    }
  }
}

void Unpack(const std::string& package, const std::string& dest) {
  fs::create_directories(dest);
  const std::string command = "bsdtar -xpf '" + package + "' -C '" + dest + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

int CountEntries(const std::string& path) {
  if (!Exists(path)) return 0;
  int n = 0;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    ++n;
  return n;
}

std::vector<std::string> BackupNames(const std::string& app) {
  std::vector<std::string> found;
  for (int n = 0; n <= 9; ++n) {
    const std::string name = app + "_tmp" + (n == 0 ? std::string() : std::to_string(n));
    if (Exists(name)) found.push_back(name);
  }
  return found;
}

void MakeBundle(const std::string& dir, const std::string& package, const std::string& info) {
  ASSERT_TRUE(fs::is_directory(kBundle + "/Contents/MacOS")) << "build the bundle target first";
  fs::copy(kBundle, dir, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  const std::string resources = dir + "/Contents/Resources";
  fs::copy_file(package, resources + "/package/skyhold.hpk", fs::copy_options::overwrite_existing);
  testsupport::WriteFile(resources + "/INFO", info);
  fs::create_directories(resources + "/log");
  testsupport::WriteFile(resources + "/log/launcher.debug",
                         "launcher_debug=7\nservice_debug=7\nextractor_debug=6\nfile_op_debug=4\n");
  RecordPackageDigest(dir);
}

void RecordPackageDigest(const std::string& dir) {
  const std::string package = dir + "/Contents/Resources/package/skyhold.hpk";
  const std::string bytes = testsupport::ReadFile(package);
  const QByteArray sha =
      QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex();
  testsupport::WriteFile(package + ".sha256", sha.toStdString() + "  skyhold.hpk\n");
}

bool LogWatcher::Contains(const std::string& text) {
  std::ifstream in(path_, std::ios::binary);
  if (in.good()) {
    in.seekg(static_cast<std::streamoff>(seen_.size()));
    std::ostringstream more;
    more << in.rdbuf();
    seen_ += more.str();
  }
  return seen_.find(text) != std::string::npos;
}

int Count(const std::vector<std::string>& messages, const std::string& prefix) {
  return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                        [&](const std::string& m) { return m.rfind(prefix, 0) == 0; }));
}

int InterfaceStarts(const std::string& tmpdir, const std::string& app) {
  const std::string file = tmpdir + "/ui-started";
  if (!Exists(file)) return 0;
  const std::vector<std::string> lines = testsupport::Lines(testsupport::ReadFile(file));
  return static_cast<int>(std::count(lines.begin(), lines.end(), app + "/Contents/MacOS/corvane-ui"));
}

bool WaitForInterfaceStarts(const std::string& tmpdir, const std::string& app, int n) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (InterfaceStarts(tmpdir, app) < n) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

bool OrdinaryAccount(long* uid, long* gid) {
  const struct passwd* pw = getpwnam("corvane-test");
  if (pw == nullptr) return false;
  *uid = static_cast<long>(pw->pw_uid);
  *gid = static_cast<long>(pw->pw_gid);
  return true;
}

namespace {

// Read by the fake interface's signal handler in the child; filled before fork.
char fake_marker[4096];
int fake_linger_ms;

void OnTerm(int) {
  const int fd = open(fake_marker, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) close(fd);
  struct timespec t = {fake_linger_ms / 1000, (fake_linger_ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
  _exit(0);
}

}  // namespace

struct FakeUi::Reaper {
  std::atomic<bool> reaped{false};
  std::thread thread;
};

FakeUi::FakeUi(const std::string& marker, int linger_ms, const std::string& run_from) {
  snprintf(fake_marker, sizeof(fake_marker), "%s", marker.c_str());
  fake_linger_ms = linger_ms;
  if (!run_from.empty()) {
    pid_ = testsupport::StartRunningUi(run_from, marker, linger_ms);
  } else {
    pid_ = fork();
    if (pid_ == 0) {
      signal(SIGTERM, OnTerm);
      for (;;) pause();
    }
  }
  EXPECT_GT(pid_, 0) << "fork: " << strerror(errno);
  const pid_t pid = pid_;
  reaper_ = new Reaper;
  Reaper* reaper = reaper_;
  reaper_->thread = std::thread([pid, reaper] {
    waitpid(pid, nullptr, 0);
    reaper->reaped = true;
  });
}

FakeUi::~FakeUi() {
  // Only a child not yet reaped: a reaped number may already belong to another process.
  if (pid_ > 0 && reaper_ != nullptr && !reaper_->reaped) kill(pid_, SIGKILL);
  if (reaper_ != nullptr) {
    reaper_->thread.join();
    delete reaper_;
  }
}

pid_t DeadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

bool PollUntil(const std::function<bool()>& predicate, pid_t pid, bool* ended, int* status,
               std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  *ended = false;
  for (;;) {
    if (predicate()) return true;
    if (Ended(pid, status)) {
      *ended = true;
      return false;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

}  // namespace reliability
