// Whole runs of the launcher bundle, each process timed from its start to its exit, side by side in
// one run with the reference the launcher has to stand against:
//   - nothing to upgrade, until the per-user interface has been started, against a bare Qt Widgets
//     program that creates its application object and quits (goals: at most 1.3x its wall time,
//     peak memory within 1.2x);
//   - a full upgrade of a bundle-like package (a few thousand entries, about 100 MB) against the
//     shell doing the same: move the old bundle aside, `bsdtar -xf` into a fresh folder, `rm -rf`
//     the backup (goal: at most 1.5x).
// Both sides run on the offscreen platform. Prints the ratios at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string work;     // everything of this run, removed at the end
std::string bundle;   // a copy of the assembled bundle, shipping the bundle-like package
std::string home;     // the home folder the launcher sees
std::string package;  // the bundle-like package

// Mean wall seconds and peak resident kB per benchmark name, for the ratios.
std::map<std::string, double> mean_seconds;
std::map<std::string, long> peak_kb;

void Sh(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

std::string Q(const std::string& s) {
  return "'" + s + "'";
}

void WriteText(const std::string& path, const std::string& text, fs::perms perms = fs::perms::none) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  if (perms != fs::perms::none) fs::permissions(path, perms);
}

std::string Info(int build) {
  return "[Version]\nmajor_version=1\nminor_version=0\nbuild_version=" + std::to_string(build) +
         "\nicon_overlay_version=1\n";
}

// Bytes that compress about as a bundle's binaries and resources do (roughly 3:1).
std::string Content(std::mt19937& rng, size_t size) {
  static const char* words[] = {"Corvane", "sync",   "folder", "__text",
                                "0x0000",  "client", "plist",  "framework"};
  std::string s;
  s.reserve(size + 16);
  while (s.size() < size) {
    if (rng() % 3 == 0) {
      s += static_cast<char>(rng());
      s += static_cast<char>(rng());
    } else {
      s += words[rng() % 8];
    }
  }
  s.resize(size);
  return s;
}

// A per-user bundle of about 3,000 entries and 100 MB: a few large binaries, many small resources
// and localisations, framework links and a hard link. Its interface is a script that exits at
// once, so that no started interface lingers between runs.
void MakeBundleLikePackage(const std::string& stage) {
  std::mt19937 rng(7);
  const std::string c = stage + "/Contents";
  WriteText(c + "/MacOS/corvane-ui", "#!/bin/sh\nexit 0\n", fs::perms(0755));
  WriteText(c + "/MacOS/corvane-engine", Content(rng, 30000000), fs::perms(0755));
  WriteText(c + "/Resources/INFO", Info(120));
  for (int i = 0; i < 4; ++i)
    WriteText(c + "/Frameworks/Lib" + std::to_string(i) + ".dylib", Content(rng, 8000000));
  const std::string fw = c + "/Frameworks/Core.framework";
  WriteText(fw + "/Versions/A/Core", Content(rng, 6000000));
  fs::create_symlink("A", fw + "/Versions/Current");
  fs::create_symlink("Versions/Current/Core", fw + "/Core");
  for (int lang = 0; lang < 30; ++lang)
    for (int i = 0; i < 40; ++i)
      WriteText(c + "/Resources/l" + std::to_string(lang) + ".lproj/s" + std::to_string(i) + ".strings",
                Content(rng, 4000));
  for (int d = 0; d < 20; ++d)
    for (int i = 0; i < 80; ++i)
      WriteText(c + "/Resources/images/set" + std::to_string(d) + "/i" + std::to_string(i) + ".png",
                Content(rng, 18000));
  WriteText(c + "/Resources/LICENSE", "licence\n");
  fs::create_hard_link(c + "/Resources/LICENSE", c + "/LICENSE");
}

void SetUpOnce() {
  const char* base = getenv("TMPDIR");
  std::string t = std::string(base && *base ? base : "/tmp") + "/corvane-run-bench-XXXXXX";
  if (mkdtemp(t.data()) == nullptr) std::exit(1);
  work = t;
  home = work + "/home";
  bundle = work + "/Corvane.app";
  package = bundle + "/Contents/Resources/package/skyhold.hpk";
  fs::create_directories(home);
  fs::copy(CORVANE_BUNDLE, bundle, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
  MakeBundleLikePackage(work + "/stage");
  Sh("cd " + Q(work + "/stage") + " && bsdtar -czf " + Q(package) + " Contents");
  WriteText(bundle + "/Contents/Resources/INFO", Info(120));
  fs::remove_all(work + "/stage");
  struct stat st;
  stat(package.c_str(), &st);
  fprintf(stderr, "bundle-like package: %.1f MB compressed\n", st.st_size / 1e6);
}

// Runs `argv` with HOME and the offscreen platform; returns its wall time and peak resident size.
struct RunResult {
  double seconds;
  long max_rss_kb;
};
RunResult Spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("HOME", home.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fprintf(stderr, "%s ended with status %d\n", argv[0].c_str(), status);
    std::exit(1);
  }
  return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss};
}

void Record(benchmark::State& state, const std::string& name, double total_seconds, long max_rss) {
  mean_seconds[name] = total_seconds / static_cast<double>(state.iterations());
  peak_kb[name] = max_rss;
  state.counters["peak_rss_kB"] = static_cast<double>(max_rss);
}

std::string Installed() {
  return home + "/.Corvane/Corvane.app";
}

void InstallOld() {
  fs::remove_all(Installed());
  fs::create_directories(Installed());
  Sh("bsdtar -xf " + Q(package) + " -C " + Q(Installed()));
  WriteText(Installed() + "/Contents/Resources/INFO", Info(119));
}

void CheckUpgraded(benchmark::State& state) {
  std::ifstream in(Installed() + "/Contents/Resources/INFO");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.find("build_version=120") == std::string::npos || fs::exists(Installed() + "_tmp"))
    state.SkipWithError("the bundle was not upgraded");
}

void BM_NothingToUpgrade_Launcher(benchmark::State& state) {
  InstallOld();
  WriteText(Installed() + "/Contents/Resources/INFO", Info(120));
  double total = 0;
  long rss = 0;
  for (auto _ : state) {
    RunResult r = Spawn({bundle + "/Contents/MacOS/corvane-launcher"});
    state.SetIterationTime(r.seconds);
    total += r.seconds;
    rss = std::max(rss, r.max_rss_kb);
  }
  Record(state, "nothing-to-upgrade launcher", total, rss);
}
BENCHMARK(BM_NothingToUpgrade_Launcher)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

void BM_NothingToUpgrade_BareQtApp(benchmark::State& state) {
  double total = 0;
  long rss = 0;
  for (auto _ : state) {
    RunResult r = Spawn({CORVANE_BARE_QT_APP});
    state.SetIterationTime(r.seconds);
    total += r.seconds;
    rss = std::max(rss, r.max_rss_kb);
  }
  Record(state, "nothing-to-upgrade bare Qt app", total, rss);
}
BENCHMARK(BM_NothingToUpgrade_BareQtApp)->UseManualTime()->Iterations(30)->Unit(benchmark::kMillisecond);

void BM_FullUpgrade_Launcher(benchmark::State& state) {
  double total = 0;
  long rss = 0;
  for (auto _ : state) {
    state.PauseTiming();
    InstallOld();
    Sh("sync");
    state.ResumeTiming();
    RunResult r = Spawn({bundle + "/Contents/MacOS/corvane-launcher"});
    state.SetIterationTime(r.seconds);
    total += r.seconds;
    rss = std::max(rss, r.max_rss_kb);
    CheckUpgraded(state);
  }
  Record(state, "full upgrade launcher", total, rss);
}
BENCHMARK(BM_FullUpgrade_Launcher)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

void BM_FullUpgrade_Shell(benchmark::State& state) {
  const std::string app = Installed();
  const std::string script = "mv " + Q(app) + " " + Q(app + "_tmp") + " && mkdir " + Q(app) +
                             " && bsdtar -xf " + Q(package) + " -C " + Q(app) + " && rm -rf " +
                             Q(app + "_tmp");
  double total = 0;
  long rss = 0;
  for (auto _ : state) {
    state.PauseTiming();
    InstallOld();
    Sh("sync");
    state.ResumeTiming();
    RunResult r = Spawn({"/bin/sh", "-c", script});
    state.SetIterationTime(r.seconds);
    total += r.seconds;
    rss = std::max(rss, r.max_rss_kb);
    CheckUpgraded(state);
  }
  Record(state, "full upgrade shell", total, rss);
}
BENCHMARK(BM_FullUpgrade_Shell)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

double Ratio(const std::string& ours, const std::string& ref, const std::map<std::string, double>& m) {
  auto a = m.find(ours), b = m.find(ref);
  return a == m.end() || b == m.end() || b->second == 0 ? 0 : a->second / b->second;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  SetUpOnce();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  std::map<std::string, double> rss(peak_kb.begin(), peak_kb.end());
  printf(
      "\nlauncher, nothing to upgrade / bare Qt app: wall %.2fx (goal <= 1.3x), peak memory %.2fx (goal <= "
      "1.2x)\n",
      Ratio("nothing-to-upgrade launcher", "nothing-to-upgrade bare Qt app", mean_seconds),
      Ratio("nothing-to-upgrade launcher", "nothing-to-upgrade bare Qt app", rss));
  printf("launcher, full upgrade / shell (mv, bsdtar -xf, rm -rf): wall %.2fx (goal <= 1.5x)\n",
         Ratio("full upgrade launcher", "full upgrade shell", mean_seconds));
  fs::remove_all(work);
  return 0;
}
