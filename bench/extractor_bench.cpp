// The package extractor against bsdtar -xf, side by side in one run, on a bundle-like package of a
// few thousand entries and about 100 MB (tar.gz and zip), each into an empty folder; and the peak
// memory of an extraction above an idle process, for the full package and a quarter of it.
// SideBySide alternates the two and reports their ratio. PackageCheck sets the package's SHA-256, which
// an upgrade checks before anything else, against the extraction it guards (and Qt's SHA-256 beside).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "extractor.h"
#include "file-op.h"
#include "package-digest.h"
#include "strtable.h"
#include "test_package.h"

#ifdef __APPLE__
#include <crt_externs.h>
#define BENCH_ENVIRON (*_NSGetEnviron())
#else
extern char** environ;
#define BENCH_ENVIRON environ
#endif

namespace {

std::string work_dir;

std::string PackagePath(const std::string& kind) {
  return work_dir + "/package-" + kind;
}

// Bytes that compress about as well as a bundle's binaries and resources do (roughly 3:1).
std::string Content(std::mt19937& rng, size_t size) {
  static const char* words[] = {"Corvane", "sync",     "folder",       "\177ELF", "__text", "0x0000",
                                "client",  "resource", "\x01\x02\x03", "plist",   "string", "framework"};
  std::string s;
  s.reserve(size);
  while (s.size() < size) {
    if (rng() % 3 == 0) {
      s += static_cast<char>(rng());
      s += static_cast<char>(rng());
    } else {
      s += words[rng() % (sizeof(words) / sizeof(words[0]))];
    }
  }
  s.resize(size);
  return s;
}

// About 3000 entries: folders, many small resources and localisations, a few large binaries,
// framework links and a hard link. `scale` shrinks every file's size.
std::vector<testpackage::Entry> BundleEntries(double scale) {
  using testpackage::Dir;
  using testpackage::File;
  std::mt19937 rng(42);
  std::vector<testpackage::Entry> e;
  e.push_back(Dir("Contents/"));
  e.push_back(Dir("Contents/MacOS/"));
  e.push_back(File("Contents/MacOS/corvane-ui", Content(rng, size_t(30e6 * scale)), 0755));
  e.push_back(Dir("Contents/Frameworks/Core.framework/Versions/A/Resources/"));
  for (int i = 0; i < 4; ++i)
    e.push_back(
        File("Contents/Frameworks/Lib" + std::to_string(i) + ".dylib", Content(rng, size_t(8e6 * scale))));
  e.push_back(File("Contents/Frameworks/Core.framework/Versions/A/Core", Content(rng, size_t(6e6 * scale))));
  e.push_back(testpackage::Symlink("Contents/Frameworks/Core.framework/Versions/Current", "A"));
  e.push_back(testpackage::Symlink("Contents/Frameworks/Core.framework/Core", "Versions/Current/Core"));
  for (int lang = 0; lang < 30; ++lang) {
    std::string folder = "Contents/Resources/l" + std::to_string(lang) + ".lproj/";
    e.push_back(Dir(folder));
    for (int i = 0; i < 40; ++i)
      e.push_back(
          File(folder + "s" + std::to_string(i) + ".strings", Content(rng, size_t(4000 * scale) + 1)));
  }
  for (int d = 0; d < 20; ++d) {
    std::string folder = "Contents/Resources/images/set" + std::to_string(d) + "/";
    e.push_back(Dir(folder));
    for (int i = 0; i < 80; ++i)
      e.push_back(File(folder + "i" + std::to_string(i) + ".png", Content(rng, size_t(18000 * scale) + 1)));
  }
  e.push_back(File("Contents/Resources/LICENSE", "licence"));
  e.push_back(testpackage::Hardlink("Contents/LICENSE", "Contents/Resources/LICENSE"));
  return e;
}

void MakePackages() {
  StrTable::InitStrTable();
  for (double scale : {1.0, 0.25}) {
    auto entries = BundleEntries(scale);
    std::string suffix = scale == 1.0 ? "" : "-quarter";
    testpackage::WriteArchive(PackagePath("tar.gz" + suffix), entries, testpackage::Format::kTarGz);
    if (scale == 1.0) testpackage::WriteArchive(PackagePath("zip"), entries, testpackage::Format::kZip);
  }
  struct stat st;
  stat(PackagePath("tar.gz").c_str(), &st);
  fprintf(stderr, "package: %zu entries, tar.gz %.1f MB\n", BundleEntries(1.0).size(), st.st_size / 1e6);
}

std::string FreshDest() {
  std::string dest = work_dir + "/dest";
  QDir(QString::fromStdString(dest)).removeRecursively();
  mkdir(dest.c_str(), 0755);
  return dest;
}

int ExtractOnce(const std::string& package, const std::string& dest) {
  Extractor extractor;
  extractor.archive_path = package.c_str();
  extractor.dest_path = dest.c_str();
  return extractor.Extract();
}

// Runs bsdtar -xf and returns its wait status; `rusage` gets its resource use.
int Bsdtar(const std::string& package, const std::string& dest, struct rusage* usage) {
  const char* argv[] = {"bsdtar", "-xf", package.c_str(), "-C", dest.c_str(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "bsdtar", nullptr, nullptr, const_cast<char**>(argv), BENCH_ENVIRON) != 0) return -1;
  int status = 0;
  wait4(pid, &status, 0, usage);
  return status;
}

void BM_Extract(benchmark::State& state, std::string kind) {
  for (auto _ : state) {
    state.PauseTiming();
    std::string dest = FreshDest();
    state.ResumeTiming();
    if (ExtractOnce(PackagePath(kind), dest) != 0) state.SkipWithError("Extract failed");
  }
}

void BM_Bsdtar(benchmark::State& state, std::string kind) {
  for (auto _ : state) {
    state.PauseTiming();
    std::string dest = FreshDest();
    state.ResumeTiming();
    struct rusage usage;
    if (Bsdtar(PackagePath(kind), dest, &usage) != 0) state.SkipWithError("bsdtar failed");
  }
}

// Extract and bsdtar alternately on the same package, so that load from elsewhere on the machine
// falls on both alike; the counter is the ratio of their summed wall times.
void BM_SideBySide(benchmark::State& state, std::string kind) {
  double ours = 0, theirs = 0;
  for (auto _ : state) {
    std::string dest = FreshDest();
    auto t0 = std::chrono::steady_clock::now();
    if (ExtractOnce(PackagePath(kind), dest) != 0) state.SkipWithError("Extract failed");
    auto t1 = std::chrono::steady_clock::now();
    dest = FreshDest();
    struct rusage usage;
    auto t2 = std::chrono::steady_clock::now();
    if (Bsdtar(PackagePath(kind), dest, &usage) != 0) state.SkipWithError("bsdtar failed");
    auto t3 = std::chrono::steady_clock::now();
    ours += std::chrono::duration<double>(t1 - t0).count();
    theirs += std::chrono::duration<double>(t3 - t2).count();
  }
  state.counters["extract_s"] = ours / state.iterations();
  state.counters["bsdtar_s"] = theirs / state.iterations();
  state.counters["ratio"] = ours / theirs;
}

#ifdef __linux__
// Writes back each regular file's data and waits for it, without the journal commit and drive-cache
// flush that Linux's fsync adds: a model of what fsync costs per file on macOS, where only the one
// full sync at the end flushes the drive's cache.
int WriteBackEntry(const char* path, const struct stat* st, int type, struct FTW*) {
  if (type != FTW_F || !S_ISREG(st->st_mode)) return 0;
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  const int result = sync_file_range(
      fd, 0, 0, SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER);
  close(fd);
  return result == 0 ? 0 : 1;
}

int WriteBackThenOneSync(const ustring& path) {
  if (nftw(path.c_str(), WriteBackEntry, 32, FTW_PHYS) != 0) return -1;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const int result = fd < 0 ? -1 : FSSyncDescriptor(fd);
  if (fd >= 0) close(fd);
  return result;
}
#endif

// The ways of putting the new copy on the drive that DurableCopy compares, each with its counter.
struct SyncWay {
  const char* counter;
  FSTreeSyncCall call;
};
#ifdef __linux__
// The volume at once (FSSyncTree), every file and folder fsynced then one full sync
// (FSSyncTreeFileByFile, the macOS way), and that way modelled with macOS's cheaper fsync.
const SyncWay kSyncWays[] = {{"volume_share", FSSyncTree},
                             {"by_file_share", FSSyncTreeFileByFile},
                             {"mac_model_share", WriteBackThenOneSync}};
#else
// macOS has no volume sync: FSSyncTree is the file-by-file way, measured for real.
const SyncWay kSyncWays[] = {{"by_file_share", FSSyncTreeFileByFile}};
#endif
constexpr int kSyncWayCount = sizeof(kSyncWays) / sizeof(kSyncWays[0]);

// What putting the new copy on the drive adds to the extraction it follows. Each iteration extracts
// once per way (dirty data of other work flushed first, so that every way starts alike) and syncs the
// copy that way. The counters are each way's share of the extraction; the goal is at most 10% of an
// upgrade.
void BM_DurableCopy(benchmark::State& state, std::string kind) {
  double extract = 0, spent[kSyncWayCount] = {};
  for (auto _ : state) {
    for (int way = 0; way < kSyncWayCount; ++way) {
      sync();
      const std::string dest = FreshDest();
      const auto t0 = std::chrono::steady_clock::now();
      if (ExtractOnce(PackagePath(kind), dest) != 0) state.SkipWithError("Extract failed");
      const auto t1 = std::chrono::steady_clock::now();
      if (kSyncWays[way].call(dest.c_str()) != 0) state.SkipWithError("sync failed");
      const auto t2 = std::chrono::steady_clock::now();
      extract += std::chrono::duration<double>(t1 - t0).count();
      spent[way] += std::chrono::duration<double>(t2 - t1).count();
    }
  }
  state.counters["extract_s"] = extract / (kSyncWayCount * state.iterations());
  for (int way = 0; way < kSyncWayCount; ++way)
    state.counters[kSyncWays[way].counter] = kSyncWayCount * spent[way] / extract;
}

// The package check of an upgrade (FileSha256, package-digest.h), the extraction it guards, and Qt's
// portable SHA-256 for comparison, alternately on the same package. The counters are each hash's
// share of the extraction; the goal is at most 5% for the check. All three read the package from
// the page cache, as the extraction's second reading does in an upgrade.
void BM_PackageCheck(benchmark::State& state, std::string kind) {
  double check = 0, qt = 0, extract = 0;
  const std::string package = PackagePath(kind);
  for (auto _ : state) {
    std::string dest = FreshDest();
    auto t0 = std::chrono::steady_clock::now();
    std::string hex;
    const int fd = open(package.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || FileSha256(fd, &hex) != 0) state.SkipWithError("FileSha256 failed");
    if (fd >= 0) close(fd);
    auto t1 = std::chrono::steady_clock::now();
    if (ExtractOnce(package, dest) != 0) state.SkipWithError("Extract failed");
    auto t2 = std::chrono::steady_clock::now();
    QFile file(QString::fromStdString(package));
    QCryptographicHash sha(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !sha.addData(&file)) state.SkipWithError("Qt's hash failed");
    auto t3 = std::chrono::steady_clock::now();
    if (sha.result().toHex().toStdString() != hex) state.SkipWithError("the two hashes differ");
    check += std::chrono::duration<double>(t1 - t0).count();
    extract += std::chrono::duration<double>(t2 - t1).count();
    qt += std::chrono::duration<double>(t3 - t2).count();
  }
  state.counters["check_s"] = check / state.iterations();
  state.counters["extract_s"] = extract / state.iterations();
  state.counters["qt_sha256_s"] = qt / state.iterations();
  state.counters["check_share"] = check / extract;
  state.counters["qt_share"] = qt / extract;
}

// The peak resident size in a process's resource use, in KiB (macOS counts it in bytes).
double PeakKiB(const struct rusage& usage) {
#ifdef __APPLE__
  return usage.ru_maxrss / 1024.0;
#else
  return static_cast<double>(usage.ru_maxrss);
#endif
}

// Peak resident memory of a child that extracts, minus that of a child that does nothing (both
// start as copies of this process), in MiB.
void BM_PeakMemory(benchmark::State& state, std::string kind) {
  double above_idle = 0;
  for (auto _ : state) {
    std::string dest = FreshDest();
    struct rusage idle, busy;
    pid_t pid = fork();
    if (pid == 0) _exit(0);
    wait4(pid, nullptr, 0, &idle);
    pid = fork();
    if (pid == 0) _exit(ExtractOnce(PackagePath(kind), dest) == 0 ? 0 : 1);
    int status = 0;
    wait4(pid, &status, 0, &busy);
    if (status != 0) state.SkipWithError("Extract failed");
    above_idle = (PeakKiB(busy) - PeakKiB(idle)) / 1024.0;
  }
  state.counters["extract_above_idle_MiB"] = above_idle;
}

}  // namespace

int main(int argc, char** argv) {
  const char* base = getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/corvane-extractor-bench-XXXXXX";
  if (mkdtemp(templ.data()) == nullptr) return 1;
  work_dir = templ.c_str();
  MakePackages();

  for (std::string kind : {"tar.gz", "zip"}) {
    benchmark::RegisterBenchmark(("Extract/" + kind).c_str(), BM_Extract, kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark(("bsdtar/" + kind).c_str(), BM_Bsdtar, kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(3);
    benchmark::RegisterBenchmark(("SideBySide/" + kind).c_str(), BM_SideBySide, kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(6);
  }
  benchmark::RegisterBenchmark("DurableCopy/tar.gz", BM_DurableCopy, std::string("tar.gz"))
      ->Iterations(4)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("PackageCheck/tar.gz", BM_PackageCheck, std::string("tar.gz"))
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(6);
  for (std::string kind : {"tar.gz", "tar.gz-quarter", "zip"})
    benchmark::RegisterBenchmark(("PeakMemory/" + kind).c_str(), BM_PeakMemory, kind)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Iterations(1);

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  QDir(QString::fromStdString(work_dir)).removeRecursively();
  return 0;
}
