// File-system benchmarks: tree removal against `rm -rf` and a hand-written descriptor walk (one
// tree of 20,000 files), and against `rm -rf` for trees of 10^2 to 10^6 files as a curve; deep
// creation against `mkdir -p` and, in alternation, a mkdir loop; DirectoryIterator against a
// plain readdir loop. Real time throughout, since the commands run in child processes. Scratch
// space is under $TMPDIR (else /tmp).
#include "bench_support.hpp"

#include <vesk/file.hpp>

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

std::string scratch_root() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                        "/vesk-file-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  return pattern;
}

// The process-wide scratch directory, removed at exit. Never destroyed itself, so the exit
// handler can still read it.
const std::string& scratch() {
  static const std::string* const root = [] {
    const std::string* made = new std::string(scratch_root());
    std::atexit([] {
      nftw(scratch().c_str(),
           [](const char* path, const struct stat*, int type, struct FTW*) {
             return type == FTW_DP ? rmdir(path) : unlink(path);
           },
           64, FTW_DEPTH | FTW_PHYS);
    });
    return made;
  }();
  return *root;
}

void make_file(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::abort();
  }
  close(fd);
}

void make_dir(const std::string& path) {
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    std::perror(path.c_str());
    std::abort();
  }
}

// Runs a command and waits for it; aborts the run when it fails, so no figure hides a failure.
void run(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = 0;
  int status = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
      waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::abort();
  }
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// ----- create_directory of a 30-level path ------------------------------------------------------

std::string deep_path(int serial) {
  std::string path = scratch() + "/deep" + std::to_string(serial);
  for (int level = 1; level < 30; ++level)
    path += "/level" + std::to_string(level);
  return path;
}

// Creates a path with `create` in each iteration; the tree is removed at once, outside the timed
// region, so every iteration starts from the same nearly empty scratch directory.
template <class Create>
void create_deep(benchmark::State& state, Create create) {
  int serial = 0;
  for (auto _ : state) {
    const std::string path = deep_path(serial++);
    create(path);
    state.PauseTiming();
    if (!exists(path))
      state.SkipWithError("path not created");
    run({"rm", "-rf", scratch() + "/deep" + std::to_string(serial - 1)});
    state.ResumeTiming();
  }
}

// Like create_deep, with a peer in the same process timed in alternation: each iteration makes
// one path with `create` and one with `peer`, taking turns at going first, and reports the time
// of `create`; the counter per_peer is the sum of its times over the sum of the peer's. A mkdir
// costs what the inode allocator meets, and that depends on the history of the file system:
// ext4 without a journal skips every inode freed in the last minute, and the scan past them
// can be most of the cost. Two families run one after the other meet different histories and
// their ratio swings either way by half; two calls side by side meet the same one.
template <class Create, class Peer>
void create_deep_against(benchmark::State& state, Create create, Peer peer) {
  using Clock = std::chrono::steady_clock;
  const auto timed = [](auto& maker, const std::string& path) {
    const Clock::time_point start = Clock::now();
    maker(path);
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  int serial = 0;
  bool ours_first = true;
  double ours_total = 0;
  double peer_total = 0;
  for (auto _ : state) {
    const std::string ours_path = deep_path(serial++);
    const std::string peer_path = deep_path(serial++);
    double ours = 0;
    double peer_time = 0;
    if (ours_first) {
      ours = timed(create, ours_path);
      peer_time = timed(peer, peer_path);
    } else {
      peer_time = timed(peer, peer_path);
      ours = timed(create, ours_path);
    }
    ours_first = !ours_first;
    if (!exists(ours_path) || !exists(peer_path))
      state.SkipWithError("path not created");
    run({"rm", "-rf", scratch() + "/deep" + std::to_string(serial - 2),
         scratch() + "/deep" + std::to_string(serial - 1)});
    state.SetIterationTime(ours);
    ours_total += ours;
    peer_total += peer_time;
  }
  state.counters["per_peer"] = ours_total / peer_total;
}

// What `mkdir -p` does, in this process and without its start-up: one mkdir per prefix,
// an existing directory being no error. The figure without the cost of a process.
void mkdir_loop(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
      std::abort();
    if (slash == std::string::npos)
      break;
  }
}

void vesk_create(const std::string& path) { vesk::create_directory(path); }

void BM_CreateDeep_Vesk(benchmark::State& state) {
  create_deep_against(state, vesk_create, mkdir_loop);
}

void BM_CreateDeep_MkdirP(benchmark::State& state) {
  create_deep(state, [](const std::string& path) { run({"mkdir", "-p", path}); });
}

void BM_CreateDeep_MkdirLoop(benchmark::State& state) {
  create_deep_against(state, mkdir_loop, vesk_create);
}

// Registered before every removal, so that these run first, before any large tree is removed.
BENCHMARK(BM_CreateDeep_Vesk)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(200);
BENCHMARK(BM_CreateDeep_MkdirP)->Unit(benchmark::kMicrosecond)->UseRealTime()->Iterations(200);
BENCHMARK(BM_CreateDeep_MkdirLoop)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(200);

// ----- remove_directory of 20,000 files in 200 directories ------------------------------------

// 20 directories of 10 subdirectories each; 100 empty files in every subdirectory.
std::string make_tree() {
  static int serial = 0;
  const std::string root = scratch() + "/tree" + std::to_string(serial++);
  make_dir(root);
  for (int top = 0; top < 20; ++top) {
    const std::string upper = root + "/dir" + std::to_string(top);
    make_dir(upper);
    for (int sub = 0; sub < 10; ++sub) {
      const std::string lower = upper + "/sub" + std::to_string(sub);
      make_dir(lower);
      for (int file = 0; file < 100; ++file)
        make_file(lower + "/file" + std::to_string(file) + ".o");
    }
  }
  return root;
}

// Times `remove` on a tree that `make` builds (and syncs) outside the timed region; `remove`
// returns false when it reports a failure of its own.
template <class Make, class Remove>
void time_removal(benchmark::State& state, Make make, Remove remove) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string root = make();
    sync();
    state.ResumeTiming();
    if (!remove(root) || exists(root))
      state.SkipWithError("tree not removed");
  }
}

void BM_RemoveTree_Vesk(benchmark::State& state) {
  time_removal(state, make_tree,
               [](const std::string& root) { return vesk::remove_directory(root); });
}

void BM_RemoveTree_RmRf(benchmark::State& state) {
  time_removal(state, make_tree, [](const std::string& root) {
    run({"rm", "-rf", root});
    return true;
  });
}

// What a careful program writes by hand: each directory opened relative to its parent without
// following links, listed with fdopendir, readdir's type deciding between entering and unlinkat.
void hand_remove(int parent, const char* name) {
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* directory = fd >= 0 ? fdopendir(fd) : nullptr;
  if (directory == nullptr)
    std::abort();
  while (const dirent* entry = readdir(directory)) {
    const char* entry_name = entry->d_name;
    if (std::strcmp(entry_name, ".") == 0 || std::strcmp(entry_name, "..") == 0)
      continue;
    if (entry->d_type == DT_DIR)
      hand_remove(dirfd(directory), entry_name);
    else if (unlinkat(dirfd(directory), entry_name, 0) != 0)
      std::abort();
  }
  closedir(directory);
  if (unlinkat(parent, name, AT_REMOVEDIR) != 0)
    std::abort();
}

void BM_RemoveTree_HandWalk(benchmark::State& state) {
  time_removal(state, make_tree, [](const std::string& root) {
    hand_remove(AT_FDCWD, root.c_str());
    return true;
  });
}

// ----- the curve: remove_directory of 10^2 to 10^6 files ------------------------------------

// `files` empty files, 100 to a directory, 100 such directories to a directory above them.
std::string make_tree_of(std::int64_t files) {
  static int serial = 0;
  const std::string root = scratch() + "/curve" + std::to_string(serial++);
  make_dir(root);
  for (std::int64_t made = 0; made < files; made += 100) {
    const std::int64_t leaf = made / 100;
    const std::string upper = root + "/dir" + std::to_string(leaf / 100);
    if (leaf % 100 == 0)
      make_dir(upper);
    const std::string lower = upper + "/sub" + std::to_string(leaf % 100);
    make_dir(lower);
    for (std::int64_t file = made; file < made + 100 && file < files; ++file)
      make_file(lower + "/file" + std::to_string(file) + ".o");
  }
  return root;
}

template <class Remove>
void remove_curve(benchmark::State& state, Remove remove) {
  const std::int64_t files = state.range(0);
  time_removal(
      state, [files] { return make_tree_of(files); },
      [&remove](const std::string& root) {
        remove(root);
        return true;
      });
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_RemoveCurve_Vesk(benchmark::State& state) {
  remove_curve(state, [](const std::string& root) { vesk::remove_directory(root); });
}

void BM_RemoveCurve_RmRf(benchmark::State& state) {
  remove_curve(state, [](const std::string& root) { run({"rm", "-rf", root}); });
}

// One family per size, ours then rm's, so that the two of one size run back to back. Making a
// tree of 10^6 files takes longer than removing it, so the large trees are removed fewer
// times: once with 10^6 files, three times with 10^5, else as often as the run says.
[[maybe_unused]] const bool kRemoveCurveRegistered = [] {
  for (const std::int64_t files : vesk::bench::decades(100, 1000000, 10000)) {
    const int repetitions = files >= 1000000 ? 1 : files >= 100000 ? 3 : 0;
    for (const auto& [name, function] :
         {std::pair{"BM_RemoveCurve_Vesk", BM_RemoveCurve_Vesk},
          std::pair{"BM_RemoveCurve_RmRf", BM_RemoveCurve_RmRf}}) {
      auto* b = benchmark::RegisterBenchmark(name, function)
                    ->Arg(files)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime()
                    ->Iterations(1);
      if (repetitions != 0)
        b->Repetitions(repetitions);
    }
  }
  return true;
}();

// ----- walking a directory of 100,000 entries -----------------------------------------------

const std::string& big_directory() {
  static const std::string path = [] {
    const std::string made = scratch() + "/big";
    make_dir(made);
    for (int i = 0; i < 100000; ++i)
      make_file(made + "/entry" + std::to_string(i));
    return made;
  }();
  return path;
}

void BM_Walk_DirectoryIterator(benchmark::State& state) {
  const std::string& directory = big_directory();
  for (auto _ : state) {
    std::size_t entries = 0;
    std::size_t characters = 0;
    for (vesk::DirectoryIterator it(directory); it.available(); it.advance()) {
      ++entries;
      characters += it.current().size();
    }
    benchmark::DoNotOptimize(characters);
    if (entries != 100002)
      state.SkipWithError("wrong number of entries");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100002);
}

void BM_Walk_Readdir(benchmark::State& state) {
  const std::string& directory = big_directory();
  for (auto _ : state) {
    std::size_t entries = 0;
    std::size_t characters = 0;
    DIR* handle = opendir(directory.c_str());
    while (const dirent* entry = readdir(handle)) {
      ++entries;
      characters += std::strlen(entry->d_name);
    }
    closedir(handle);
    benchmark::DoNotOptimize(characters);
    if (entries != 100002)
      state.SkipWithError("wrong number of entries");
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100002);
}

}  // namespace

BENCHMARK(BM_RemoveTree_Vesk)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_RemoveTree_RmRf)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_RemoveTree_HandWalk)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_Walk_DirectoryIterator)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Walk_Readdir)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
