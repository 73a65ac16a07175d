// The file layer on an application-bundle-like tree built from this machine's Qt 5 and ICU
// libraries, headers, plug-ins and translations (frameworks with Versions/Current -> A links, about
// 100 MB in a few thousand entries on Linux; Homebrew's Qt frameworks as they are on a Mac):
// - FSRemove of the whole tree paired with `rm -rf` in the same iterations (goal: ratio at most 1.5);
// - FSRename of the whole tree to another volume (a tmpfs; Linux and root only) paired with `mv`;
// - IsFileExist(path, true) per call, with lstat and the C library's realpath as references.
#include <benchmark/benchmark.h>
#include <limits.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "file-op.h"

#ifdef __APPLE__
#include <crt_externs.h>
#define BENCH_ENVIRON (*_NSGetEnviron())
#else
extern char** environ;
#define BENCH_ENVIRON environ
#endif

namespace fs = std::filesystem;

namespace {

// Where this machine's Qt and ICU lie, as the build found them (bench/CMakeLists.txt).
const fs::path kQtLibs = CORVANE_QT_INSTALL_LIBS;
const fs::path kQtHeaders = CORVANE_QT_INSTALL_HEADERS;
const fs::path kIcuLibs = CORVANE_ICU_LIBS;
const fs::path kIcuHeaders = CORVANE_ICU_HEADERS;

void CopyTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::exists(from, ec)) return;
  fs::create_directories(to.parent_path());
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
}

// Name.framework/Versions/A/{Name,Headers}, Versions/Current -> A, Name -> Versions/Current/Name,
// Headers -> Versions/Current/Headers.
void AddFramework(const fs::path& frameworks, const std::string& name, const fs::path& binary,
                  const fs::path& headers) {
  const fs::path root = frameworks / (name + ".framework");
  const fs::path version = root / "Versions" / "A";
  fs::create_directories(version);
  fs::copy_file(binary, version / name);
  CopyTree(headers, version / "Headers");
  fs::create_directory_symlink("A", root / "Versions" / "Current");
  fs::create_symlink("Versions/Current/" + name, root / name);
  fs::create_directory_symlink("Versions/Current/Headers", root / "Headers");
}

struct Bundle {
  fs::path base;      // the benchmark's own temporary folder, in stored form
  fs::path original;  // the tree every removal run copies
  std::vector<std::string> files;
  uintmax_t bytes = 0;
};

const Bundle& TheBundle() {
  static const Bundle bundle = [] {
    Bundle b;
    const char* tmp = getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-bench-XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) abort();
    char real[PATH_MAX];
    if (realpath(templ.c_str(), real) == nullptr) abort();
    b.base = real;
    b.original = b.base / "Corvane.app";
    const fs::path contents = b.original / "Contents";
    const fs::path frameworks = contents / "Frameworks";
    fs::create_directories(frameworks);
    // Qt's libraries: Linux's shared objects, made frameworks here; a Mac's frameworks as they are.
    for (const fs::directory_entry& entry : fs::directory_iterator(kQtLibs)) {
      const std::string file = entry.path().filename();
      if (entry.is_symlink()) continue;
      if (entry.is_directory() && file.rfind("Qt", 0) == 0 && entry.path().extension() == ".framework") {
        CopyTree(entry.path(), frameworks / file);
      } else if (entry.is_regular_file() && file.rfind("libQt5", 0) == 0 &&
                 file.find(".so.5.15") != std::string::npos) {
        const std::string module = "Qt" + file.substr(6, file.find('.') - 6);
        AddFramework(frameworks, module, entry.path(), kQtHeaders / module);
      }
    }
    // ICU's libraries (libicuuc.so.72.1 on Linux, libicuuc.74.2.dylib on a Mac), made frameworks.
    for (const fs::directory_entry& entry : fs::directory_iterator(kIcuLibs)) {
      const std::string file = entry.path().filename();
      if (entry.is_symlink() || !entry.is_regular_file() || file.rfind("libicu", 0) != 0) continue;
      if (file.find(".so.") != std::string::npos || entry.path().extension() == ".dylib") {
        const std::string module = file.substr(3, file.find('.') - 3);
        AddFramework(frameworks, module, entry.path(), module == "icuuc" ? kIcuHeaders / "unicode" : "");
      }
    }
    CopyTree(CORVANE_QT_INSTALL_PLUGINS, contents / "PlugIns");
    CopyTree(CORVANE_QT_INSTALL_TRANSLATIONS, contents / "Resources" / "translations");
    CopyTree(CORVANE_QT_INSTALL_LIBEXECS, contents / "MacOS");
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(b.original)) {
      if (entry.is_symlink()) continue;
      if (entry.is_regular_file()) {
        b.files.push_back(entry.path());
        b.bytes += entry.file_size();
      }
    }
    return b;
  }();
  return bundle;
}

// Runs /bin/<argv[0]> and waits for it: its exit status, or -1.
int RunTool(std::vector<const char*> argv) {
  const std::string program = std::string("/bin/") + argv[0];
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, const_cast<char**>(argv.data()), BENCH_ENVIRON) !=
      0)
    return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunRmRf(const std::string& path) {
  return RunTool({"rm", "-rf", path.c_str()});
}

// Runs `ours` and `theirs` on two fresh copies of the tree (at `ours_copy` and `theirs_copy`) each
// iteration, in alternating order, so that load from elsewhere on the machine and the disk's state
// weigh on both alike; `after` runs outside the timing. The reported time is ours; the counter
// `theirs_counter` is theirs in milliseconds and `ratio` the quotient of the two totals.
void TimePaired(benchmark::State& state, const std::string& ours_copy, const std::string& theirs_copy,
                const std::function<int()>& ours, const std::function<int()>& theirs,
                const std::function<void()>& after, const char* theirs_counter) {
  using Clock = std::chrono::steady_clock;
  const Bundle& bundle = TheBundle();
  double ours_total = 0, theirs_total = 0;
  bool ours_first = true;
  for (auto _ : state) {
    CopyTree(bundle.original, ours_copy);
    CopyTree(bundle.original, theirs_copy);
    sync();
    double ours_seconds = 0, theirs_seconds = 0;
    for (int turn = 0; turn < 2; ++turn) {
      const bool run_ours = (turn == 0) == ours_first;
      const Clock::time_point start = Clock::now();
      const int result = run_ours ? ours() : theirs();
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (result != 0) state.SkipWithError("the operation failed");
      (run_ours ? ours_seconds : theirs_seconds) = seconds;
    }
    ours_first = !ours_first;
    ours_total += ours_seconds;
    theirs_total += theirs_seconds;
    state.SetIterationTime(ours_seconds);
    after();
  }
  state.counters[theirs_counter] = 1000 * theirs_total / static_cast<double>(state.iterations());
  state.counters["ratio"] = ours_total / theirs_total;
}

// FSRemove against rm -rf, each removing a fresh copy of the tree.
void BM_FSRemove_vs_RmRf_BundleTree(benchmark::State& state) {
  const Bundle& bundle = TheBundle();
  const std::string ours = (bundle.base / "work-fsremove").string();
  const std::string theirs = (bundle.base / "work-rm").string();
  TimePaired(
      state, ours, theirs, [&] { return FSRemove(ours, false); }, [&] { return RunRmRf(theirs); }, [] {},
      "rm_ms");
  state.counters["files"] = static_cast<double>(bundle.files.size());
  state.counters["MB"] = static_cast<double>(bundle.bytes) / 1e6;
}
BENCHMARK(BM_FSRemove_vs_RmRf_BundleTree)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// Mounts a tmpfs at `dir` as the other volume. An empty string, or why there is none: only Linux has
// a tmpfs, and only root may mount one.
std::string MountOtherVolume(const std::string& dir) {
#ifdef __linux__
  if (geteuid() != 0 || mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=1g") != 0)
    return "mounting a tmpfs as the other volume needs root";
  return "";
#else
  (void)dir;
  return "the other volume is a tmpfs, which only Linux has";
#endif
}

void UnmountOtherVolume(const std::string& dir) {
#ifdef __linux__
  umount2(dir.c_str(), MNT_DETACH);
#else
  (void)dir;
#endif
}

// FSRename against `mv`, each moving a fresh copy of the tree to a tmpfs; the moved copies are
// removed outside the timing. fsync, which FSRename's copy calls for every file and mv does not,
// costs nothing on a tmpfs: the figure is the walk itself.
void BM_FSRename_vs_Mv_AcrossVolumes(benchmark::State& state) {
  const Bundle& bundle = TheBundle();
  const std::string volume = (bundle.base / "other-volume").string();
  fs::create_directory(volume);
  const std::string why_not = MountOtherVolume(volume);
  if (!why_not.empty()) {
    state.SkipWithError(why_not.c_str());
    return;
  }
  const std::string ours = (bundle.base / "move-fsrename").string();
  const std::string theirs = (bundle.base / "move-mv").string();
  const std::string ours_moved = volume + "/ours", theirs_moved = volume + "/theirs";
  TimePaired(
      state, ours, theirs, [&] { return FSRename(ours, ours_moved, false); },
      [&] {
        return RunTool({"mv", theirs.c_str(), theirs_moved.c_str()});
      },
      [&] {
        RunRmRf(ours_moved);
        RunRmRf(theirs_moved);
      },
      "mv_ms");
  UnmountOtherVolume(volume);
}
BENCHMARK(BM_FSRename_vs_Mv_AcrossVolumes)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(8);

// Every call asks for the next file of the tree, round robin.
template <typename Probe>
void ProbeFiles(benchmark::State& state, Probe probe) {
  const Bundle& bundle = TheBundle();
  std::vector<ustring> paths(bundle.files.begin(), bundle.files.end());
  size_t i = 0;
  for (auto _ : state) {
    if (!probe(paths[i])) {
      state.SkipWithError("a file of the tree was not found");
      break;
    }
    if (++i == paths.size()) i = 0;
  }
}

void BM_IsFileExist_Exact(benchmark::State& state) {
  ProbeFiles(state, [](const ustring& path) { return IsFileExist(path, true); });
}
BENCHMARK(BM_IsFileExist_Exact);

void BM_IsFileExist_Plain(benchmark::State& state) {
  ProbeFiles(state, [](const ustring& path) { return IsFileExist(path, false); });
}
BENCHMARK(BM_IsFileExist_Plain);

void BM_Realpath_Reference(benchmark::State& state) {
  ProbeFiles(state, [](const ustring& path) {
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) != nullptr;
  });
}
BENCHMARK(BM_Realpath_Reference);

void BM_Lstat_Reference(benchmark::State& state) {
  ProbeFiles(state, [](const ustring& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  });
}
BENCHMARK(BM_Lstat_Reference);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  RunRmRf(TheBundle().base.string());
  return 0;
}
