// Path names against Boost.Filesystem: leaf, basename, extension and dirname of every path under
// /usr/include, against path::filename, stem, extension and parent_path of the same strings.
#include "bench_support.hpp"
#include "report_context.hpp"

#include <vesk/file.hpp>

#include <benchmark/benchmark.h>
#include <boost/filesystem/path.hpp>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace {

const std::vector<std::string>& include_paths() {
  static const std::vector<std::string> paths = [] {
    std::vector<std::string> out;
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator it("/usr/include", error), end;
         !error && it != end; it.increment(error))
      out.push_back(it->path().string());
    return out;
  }();
  return paths;
}

template <class Split>
void run(benchmark::State& state, Split split) {
  const std::vector<std::string>& paths = include_paths();
  for (auto _ : state)
    for (const std::string& path : paths)
      split(path);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * paths.size()));
  state.counters["paths"] = static_cast<double>(paths.size());
}

// Each function on its own, as a caller holding a std::string would use it.
void BM_VeskLeaf(benchmark::State& s) {
  run(s, [](const std::string& p) { benchmark::DoNotOptimize(vesk::leaf(p)); });
}
void BM_BoostFilename(benchmark::State& s) {
  run(s, [](const std::string& p) {
    benchmark::DoNotOptimize(boost::filesystem::path(p).filename().string());
  });
}
void BM_VeskBasename(benchmark::State& s) {
  run(s, [](const std::string& p) { benchmark::DoNotOptimize(vesk::basename(p)); });
}
void BM_BoostStem(benchmark::State& s) {
  run(s, [](const std::string& p) {
    benchmark::DoNotOptimize(boost::filesystem::path(p).stem().string());
  });
}
void BM_VeskExtension(benchmark::State& s) {
  run(s, [](const std::string& p) { benchmark::DoNotOptimize(vesk::extension(p)); });
}
void BM_BoostExtension(benchmark::State& s) {
  run(s, [](const std::string& p) {
    benchmark::DoNotOptimize(boost::filesystem::path(p).extension().string());
  });
}
void BM_VeskDirname(benchmark::State& s) {
  run(s, [](const std::string& p) { benchmark::DoNotOptimize(vesk::dirname(p)); });
}
void BM_BoostParentPath(benchmark::State& s) {
  run(s, [](const std::string& p) {
    benchmark::DoNotOptimize(boost::filesystem::path(p).parent_path().string());
  });
}

// All four parts of each path; Boost builds its path object once for the four.
void BM_VeskAllFour(benchmark::State& s) {
  run(s, [](const std::string& p) {
    benchmark::DoNotOptimize(vesk::leaf(p));
    benchmark::DoNotOptimize(vesk::basename(p));
    benchmark::DoNotOptimize(vesk::extension(p));
    benchmark::DoNotOptimize(vesk::dirname(p));
  });
}
void BM_BoostAllFour(benchmark::State& s) {
  run(s, [](const std::string& p) {
    const boost::filesystem::path path(p);
    benchmark::DoNotOptimize(path.filename().string());
    benchmark::DoNotOptimize(path.stem().string());
    benchmark::DoNotOptimize(path.extension().string());
    benchmark::DoNotOptimize(path.parent_path().string());
  });
}

BENCHMARK(BM_VeskLeaf);
BENCHMARK(BM_BoostFilename);
BENCHMARK(BM_VeskBasename);
BENCHMARK(BM_BoostStem);
BENCHMARK(BM_VeskExtension);
BENCHMARK(BM_BoostExtension);
BENCHMARK(BM_VeskDirname);
BENCHMARK(BM_BoostParentPath);
BENCHMARK(BM_VeskAllFour);
BENCHMARK(BM_BoostAllFour);

// What the report shows of this program.
void declare_report() {
  namespace report = vesk::bench::report;
  report::table("Path names against Boost.Filesystem",
                "Every path under /usr/include, as a std::string; time for the whole list.");
  report::compare({"`leaf`", "BM_VeskLeaf"}, {"`path::filename`", "BM_BoostFilename"});
  report::compare({"`basename`", "BM_VeskBasename"}, {"`path::stem`", "BM_BoostStem"});
  report::compare({"`extension`", "BM_VeskExtension"}, {"`path::extension`", "BM_BoostExtension"});
  report::compare({"`dirname`", "BM_VeskDirname"}, {"`path::parent_path`", "BM_BoostParentPath"});
  report::compare({"`leaf`, `basename`, `extension`, `dirname`", "BM_VeskAllFour"},
                  {"all four on one `path`", "BM_BoostAllFour"}, {"Boost.Filesystem `path`"});
}

}  // namespace

int main(int argc, char** argv) { return vesk::bench::run_main(argc, argv, declare_report); }
