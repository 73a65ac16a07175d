// ustring against the references it replaces, side by side:
//  - NFC of 10,000 realistic paths with non-ASCII names (a third of them decomposed, as HFS+ stores
//    them), UTF-8 in and UTF-8 out: ustring::normalize against calling ICU directly with reused
//    buffers;
//  - building paths by appends: ustring against std::string.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ustring.h"

namespace {

// Folder and file names as users write them, precomposed (NFC).
const char* const kNames[] = {
    "Documents",
    "R\xC3\xA9sum\xC3\xA9 2024",  // Résumé
    "\xC3\x9C"
    "bersicht Gesch\xC3\xA4"
    "ftsjahr",  // Übersicht Geschäftsjahr
    "Caf\xC3\xA9 cr\xC3\xA8me br\xC3\xBBl\xC3\xA9"
    "e.jpg",                                                                     // Café crème brûlée
    "\xE5\x86\x99\xE7\x9C\x9F",                                                  // 写真
    "\xE3\x83\x97\xE3\x83\xAD\xE3\x82\xB8\xE3\x82\xA7\xE3\x82\xAF\xE3\x83\x88",  // プロジェクト (has ジ)
    "\xEB\xB3\xB4\xEA\xB3\xA0\xEC\x84\x9C.docx",                                 // 보고서.docx
    "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82",                                  // Отчёт
    "\xCE\x95\xCF\x81\xCE\xB3\xCE\xB1\xCF\x83\xCE\xAF\xCE\xB1",                  // Εργασία
    "Se\xC3\xB1or Mu\xC3\xB1oz",                                                 // Señor Muñoz
    "notes.txt",
    "\xC3\x85rsrapport \xC3\xB8konomi",  // Årsrapport økonomi
    "Fa\xC3\xA7"
    "ade \xC5\x93uvre",          // Façade œuvre
    "\xF0\x9F\x93\x81 Archive",  // 📁 Archive
    "Pr\xC3\xA9sentation finale.key",
    "\xE0\xA4\xB9\xE0\xA4\xBF\xE0\xA4\x82\xE0\xA4\xA6\xE0\xA5\x80",  // हिंदी
};

std::string Nfd(const std::string& s) {
  ustring d = ustring(s.c_str()).normalize(ustring::NFD);
  return d.c_str();
}

// 10,000 paths of 4 to 7 components under a home folder; a third decomposed.
const std::vector<std::string>& Paths() {
  static const std::vector<std::string> paths = [] {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<size_t> pick(0, sizeof(kNames) / sizeof(kNames[0]) - 1);
    std::uniform_int_distribution<int> depth(4, 7);
    std::vector<std::string> out;
    for (int i = 0; i < 10000; ++i) {
      std::string p = "/Users/j\xC3\xBCrgen";
      for (int d = depth(rng); d > 0; --d) p += "/" + std::string(kNames[pick(rng)]);
      out.push_back(i % 3 == 0 ? Nfd(p) : p);
    }
    return out;
  }();
  return paths;
}

// Our pass and the reference's run one after the other in every iteration, each timed on this
// thread's CPU clock, so both see the same machine load. The reported time is ours; `ref_us` is the
// reference's and `ratio` ours over the reference's, both over all iterations.
double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

template <typename Ours, typename Reference>
void Paired(benchmark::State& state, size_t items, Ours ours, Reference reference) {
  double ours_total = 0, reference_total = 0;
  for (auto _ : state) {
    const double t0 = ThreadSeconds();
    ours();
    const double t1 = ThreadSeconds();
    reference();
    const double t2 = ThreadSeconds();
    ours_total += t1 - t0;
    reference_total += t2 - t1;
    state.SetIterationTime(t1 - t0);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * items));
  state.counters["ref_us"] = 1e6 * reference_total / static_cast<double>(state.iterations());
  state.counters["ratio"] = ours_total / reference_total;
}

void NfcUstring(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) {
    const ustring nfc = ustring(p).normalize(ustring::NFC);
    benchmark::DoNotOptimize(nfc.c_str());
  }
}

// The straight ICU sequence: UTF-8 to UTF-16, NFC, back to UTF-8 into a std::string, each step in
// one call into scratch buffers reused across paths.
void NfcIcu(const std::vector<std::string>& paths) {
  UErrorCode err = U_ZERO_ERROR;
  const UNormalizer2* nfc = unorm2_getNFCInstance(&err);
  static std::vector<UChar> in(4096), out(4096);
  for (const std::string& p : paths) {
    int32_t n = 0;
    u_strFromUTF8(in.data(), static_cast<int32_t>(in.size()), &n, p.data(), static_cast<int32_t>(p.size()),
                  &err);
    n = unorm2_normalize(nfc, in.data(), n, out.data(), static_cast<int32_t>(out.size()), &err);
    std::string result(static_cast<size_t>(n) * 3, '\0');
    int32_t len = 0;
    u_strToUTF8(result.data(), static_cast<int32_t>(result.size()), &len, out.data(), n, &err);
    result.resize(static_cast<size_t>(len));
    benchmark::DoNotOptimize(result.data());
  }
  if (U_FAILURE(err)) std::abort();
}

void BM_Nfc_Ustring_vs_Icu(benchmark::State& state) {
  const auto& paths = Paths();
  Paired(
      state, paths.size(), [&] { NfcUstring(paths); }, [&] { NfcIcu(paths); });
}
BENCHMARK(BM_Nfc_Ustring_vs_Icu)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(2);

// Building 10,000 paths of 6 components by appends, as the file layer joins folder and name.
template <typename String>
void BuildPaths() {
  constexpr size_t kCount = sizeof(kNames) / sizeof(kNames[0]);
  for (size_t i = 0; i < 10000; ++i) {
    String path("/Users/j\xC3\xBCrgen");
    for (size_t d = 0; d < 6; ++d) {
      path += "/";
      path += kNames[(i + d * 7) % kCount];
    }
    benchmark::DoNotOptimize(path.c_str());
  }
}

void BM_Append_Ustring_vs_StdString(benchmark::State& state) {
  Paired(state, 10000, BuildPaths<ustring>, BuildPaths<std::string>);
}
BENCHMARK(BM_Append_Ustring_vs_StdString)->Unit(benchmark::kMicrosecond)->UseManualTime()->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
