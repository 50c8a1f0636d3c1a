// Every allocation of one workload over the whole library, from the host or from the system
// (calloc and mmap), fails in turn, once alone and once with every later one failing too; and
// every system call of a workload over the file functions fails in turn, once with each error
// number that call can give. Each run, in a process of its own, must end clean: every step
// completed or ended in an error the library documents (a filesystem error carrying the
// system's error number), nothing leaked (checked when a leak checker is loaded), no
// descriptor kept, and what succeeded equal to a run without failures.
#include <vesk/foundation_util.hpp>
#include <vesk/host/host_util.h>

#include "support/host_fake.hpp"
#include "support/scratch_dir.hpp"
#include "support/system_calls.hpp"
#include "support/system_memory.hpp"
#include "support/table_report.hpp"
#include "support/test_errors.hpp"

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace {

// Whether this run sweeps failure point `point`: VESK_SWEEP_SHARD=k/n takes the points whose
// remainder by n is k, so that n runs side by side make the whole sweep; unset (or not of that
// form), every point.
bool in_this_shard(unsigned long point) {
  static const std::pair<unsigned long, unsigned long> shard = [] {
    unsigned long k = 0;
    unsigned long n = 1;
    const char* text = std::getenv("VESK_SWEEP_SHARD");
    if (text == nullptr || std::sscanf(text, "%lu/%lu", &k, &n) != 2 || k >= n)
      return std::pair<unsigned long, unsigned long>{0, 1};
    return std::pair<unsigned long, unsigned long>{k, n};
  }();
  return point % shard.second == shard.first;
}

enum class Failing { None, One, FromOn };
unsigned long gSystemAllocations = 0;
unsigned long gMappings = 0;
unsigned long gGrowthAllocations = 0;  // made by the text that grows the table and its index

// The system's allocations fail in the same sequence as the host's, which the host fake counts.
bool next_system_allocation_fails(const char* call) {
  ++gSystemAllocations;
  gMappings += std::strcmp(call, "mmap") == 0 ? 1 : 0;
  return vesk::testing::next_host_allocation_fails();
}

// The system calls of the steps that run armed, by name, in order; the one to fail and how.
bool gCallsArmed = false;
std::vector<std::string> gCalls;
unsigned long gFailingCall = 0;
int gCallError = 0;

int next_system_call_fails(const char* call) {
  if (!gCallsArmed)
    return 0;
  gCalls.emplace_back(call);
  return gCalls.size() == gFailingCall ? gCallError : 0;
}

}  // namespace

namespace {

using namespace vesk;
using vesk::testing::table_report;

// ---- The workload

// A null, false or "not open" result that the library documents for exhausted memory.
struct Documented {};

template <class T>
T* non_null(T* p) {
  if (p == nullptr)
    throw Documented();
  return p;
}

struct HostFree {
  void operator()(void* block) const { vesk_free(block); }
};
template <class T>
using HostPtr = std::unique_ptr<T, HostFree>;

// One line per step, "name=result" or "name!error" for a documented error.
class Transcript {
public:
  template <class Step>
  void step(const std::string& name, Step run) {
    try {
      lines.push_back(name + "=" + run());
    } catch (const std::bad_alloc&) {
      lines.push_back(name + "!bad_alloc");
    } catch (const Documented&) {
      lines.push_back(name + "!null");
    } catch (const boost::filesystem::filesystem_error& error) {
      lines.push_back(
          name + "!filesystem " + std::to_string(error.code().value()) +
          (error.code().category() == boost::system::system_category() ? " system" : " other"));
    }
  }
  std::vector<std::string> lines;
};

template <class Value>
std::string joined(const Value* values, std::size_t count) {
  std::ostringstream out;
  for (std::size_t i = 0; i < count; ++i)
    out << std::hex << values[i] << ' ';
  return out.str();
}

// `count` texts "<prefix><n>" that do (or do not) fall in bucket 5 of the table's first 2089.
std::vector<std::string> texts_of_bucket_5(const char* prefix, std::size_t count, bool in) {
  std::vector<std::string> found;
  for (unsigned int n = 0; found.size() < count; ++n) {
    const std::string text = prefix + std::to_string(n);
    if ((host_hash_n_bytes(0, static_cast<unsigned int>(text.size()), text.data()) % 2089 == 5) ==
        in)
      found.push_back(text);
  }
  return found;
}

// Nine texts for one bucket: the ninth makes the table grow.
const std::vector<std::string>& texts_of_one_bucket() {
  static const std::vector<std::string> texts = texts_of_bucket_5("bucket-", 9, true);
  return texts;
}

// Texts elsewhere that bring the table to 49 records (the workload's first 5, the bucket's
// first 8, these), all that the record index takes before it doubles: the ninth text of the
// bucket then needs both a growth and a doubled index.
const std::vector<std::string>& fillers() {
  static const std::vector<std::string> texts = texts_of_bucket_5("filler-", 49 - 5 - 8, false);
  return texts;
}

// The text, interned again when the first attempt runs out of memory: where one allocation
// fails, the second attempt succeeds.
TableString interned_on_retry(const std::string& text) {
  try {
    return TableString(text);
  } catch (const std::bad_alloc&) {
    return TableString(text);
  }
}

std::string type_lookups() {
  std::string out;
  for (const char* name : {"Logical", "REAL", "integer", "uInteger", "String", "int"})
    out += std::to_string(type_from_string(name)) + ' ';
  return out;
}

void workload(Transcript& t) {
  t.step("memory", [] {
    HostPtr<void> raw(non_null(vesk_malloc(40)));
    HostPtr<unsigned char> zeros(static_cast<unsigned char*>(non_null(vesk_calloc(5, 8))));
    std::memset(raw.get(), 1, 40);
    return std::to_string(std::count(zeros.get(), zeros.get() + 40, 0));
  });
  for (int type = 0; type < 5; ++type)
    t.step("lower name " + std::to_string(type), [type] {
      return std::string(non_null(get_type_name_lower(static_cast<DataTypeId::Type>(type))));
    });
  t.step("types", type_lookups);
  t.step("convert", [] {
    const double values[4] = {1.9, -2.5, 3e10, 42.0};
    HostPtr<double> reals(static_cast<double*>(non_null(allocate_buffer(DataTypeId::REAL, 4))));
    HostPtr<int> ints(static_cast<int*>(non_null(allocate_buffer(DataTypeId::INTEGER, 4))));
    std::copy(values, values + 4, reals.get());
    convert_data(4, DataTypeId::REAL, reals.get(), DataTypeId::INTEGER, ints.get());
    return joined(ints.get(), 4);
  });
  t.step("subsref", [] {
    const std::unique_ptr<Dimension> shape(non_null(new Dimension(2, 2)));
    const SubsRef diagonal(Dimension(2, 1), {shape->computeIndex(0, 0), shape->computeIndex(1, 1)});
    SubsRef shared(diagonal), assigned;
    assigned = shared;
    const double values[4] = {1.5, 2.5, 3.5, 4.5};
    double picked[2];
    assigned.assign(DataTypeId::REAL, picked, values);
    std::ostringstream out;
    out << *shape << ' ' << picked[0] << ' ' << picked[1];
    return out.str();
  });

  // Interning: a failed text must leave the table as it was, so that its retry leaves the
  // table as a run without failures does.
  std::vector<std::pair<std::string, TableString>> interned;
  const auto intern = [&](const std::string& text, auto make) {
    std::string name = "intern ";
    for (char c : text)
      name += c != '\0' ? std::string(1, c) : "\\0";
    t.step(name, [&] {
      const std::string before = table_report();
      TableString handle;
      try {
        handle = make();
      } catch (const std::bad_alloc&) {
        if (table_report() != before)
          return "table changed by a failed text";
        handle = make();
      }
      interned.emplace_back(text, handle);
      return std::string(handle.begin(), handle.end()) == text ? "same" : "other text";
    });
  };
  intern("", [] { return TableString(); });
  intern("alpha", [] { return TableString("alpha"); });
  intern("identifier_16_by", [] { return TableString(std::string("identifier_16_by")); });
  intern(std::string("a\0b", 3), [] { return TableString("a\0b", 3); });
  intern(std::string(100, 'L'), [] { return TableString(std::string(100, 'L')); });
  for (std::size_t k = 0; k < 8; ++k)
    intern(texts_of_one_bucket()[k], [k] { return TableString(texts_of_one_bucket()[k].c_str()); });
  t.step("fillers", [] {
    for (const std::string& text : fillers())
      interned_on_retry(text);
    return "all";
  });
  const unsigned long system_before = gSystemAllocations;
  intern(texts_of_one_bucket()[8], [] { return TableString(texts_of_one_bucket()[8]); });
  gGrowthAllocations = gSystemAllocations - system_before;
  // Enough texts for an index of 128 KiB, which is mapped from the system.
  t.step("many texts", [] {
    for (unsigned int n = 0; n < 6300; ++n)
      interned_on_retry("many-" + std::to_string(n));
    return "all";
  });

  t.step("string table", [] {
    std::vector<StringTable> tables(1);
    const char* kept = tables[0].addString("kept through moves and copies of its store");
    for (int i = 0; i < 20; ++i)
      tables.emplace_back();
    const StringTable copy(tables[0]);
    return std::string(kept);
  });
  t.step("positions", [] {
    const TableString file("model.src");
    std::ostringstream out;
    out << Range(Location(file, LineColumn(3, 4)), Location(file, LineColumn(3, 9))) << ' '
        << Location();
    return out.str();
  });
  t.step("crc", [] {
    CrcHasher crc;
    const double values[3] = {0.5, 1.5, 2.5};
    crc.addValue(Dimension(1, 3));
    crc.addData(DataTypeId::REAL, 3, values);
    const std::unique_ptr<CrcHasher> copy(non_null(new CrcHasher(crc)));
    const unsigned int hashes[2] = {crc.getHash(), copy->getHash()};
    return joined(hashes, 2);
  });
  t.step("md5 hasher", [] {
    MD5Hasher md5;
    for (int i = 0; i < 700; ++i)  // beyond one block, so the engine holds state
      md5.addValue(i);
    MD5Hasher copy(md5), assigned;
    assigned.addValue(1.5);
    assigned = md5;
    copy.addValue(7);
    std::vector<unsigned int> a, b, c;
    md5.hashValue(a);
    copy.hashValue(b);
    assigned.hashValue(c);
    return joined(a.data(), 4) + joined(b.data(), 4) + joined(c.data(), 4);
  });
  t.step("md5", [] {
    const unsigned char abc[] = {'a', 'b', 'c'};
    unsigned int words[4];
    vesk_md5_bytes(abc, abc + 3, words);
    return joined(words, 4);
  });
  t.step("exception", [] {
    vesk::testing::ContextError error("missing ';'");
    error.addObject("model");
    error.addFrame(StackFrame("model.src", "read", 12));
    const std::unique_ptr<StackFrame> frame(non_null(new StackFrame("a.src", "f", 1)));
    Exception* copy = non_null(vesk::testing::ContextError::copy(error));
    std::ostringstream out;
    out << copy->kind() << ' ' << copy->message() << ' ' << copy->object(0) << ' '
        << copy->stack().front() << ' ' << *frame;
    vesk::testing::ContextError::release(copy);
    return out.str();
  });
  t.step("files", [] {
    const vesk::testing::ScratchDir root;
    std::string out = std::to_string(create_directory(root / "obj/debug"));
    std::ofstream(root / "obj/main.o") << "x";
    out += std::to_string(file_exists(root / "obj/main.o"));
    std::vector<std::string> names;
    DirectoryIterator it(root / "obj");
    if (!it.open())
      throw Documented();
    for (; it.available(); it.advance())
      names.push_back(it.current());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
      out += ' ' + name;
    out += std::to_string(remove_file(root / "obj/main.o"));
    out += std::to_string(remove_directory(root / "obj"));
    return out + std::to_string(directory_exists(root / "obj"));
  });
  t.step("tempnam", [] {
    const std::string name = tempnam();
    if (name.empty())
      throw Documented();
    return name.find("/vesk-") != std::string::npos ? "a fresh name" : name;
  });
  t.step("text", [] {
    const HostPtr<char> copy(non_null(vesk_strdup(" Width , a\\,b,  REAL ")));
    std::string out;
    for (const std::string& field : tokenize(',', copy.get()))
      out += '[' + lower(trim(field)) + ']';
    char label[5];
    out += fill("temperature", label, sizeof label) ? " whole " : " cut ";
    char formatted[16];
    vesk_snprintf(formatted, sizeof formatted, "%s %d %d", label, 42, vesk_strcmp(copy.get(), ""));
    return out + formatted;
  });
  t.step("math", [] {
    std::ostringstream out;
    out << vesk_string_to_double("2.5e-1") << ' ' << vesk_sqrt(0.25) << ' ' << vesk_pow(0.5, 2.0);
    return out.str();
  });
  t.step("types again", type_lookups);
  t.step("interned texts", [&] {
    for (const auto& [text, handle] : interned)
      if (TableString(text) != handle || std::string(handle.begin(), handle.end()) != text)
        return "lost " + text;
    return std::string("all found");
  });
}

// ---- The file workload, for failing system calls

// A tree wider than one listing buffer of the C library (32 KiB: 130 names of 250 bytes) and
// deeper than the walk's 16 open levels (40), with a link to a directory outside it.
struct FileFixture {
  vesk::testing::ScratchDir root{vesk::testing::memory_scratch_parent()};
  std::string tree = root / "tree";
  std::string outside = root / "outside";
  std::map<std::string, EntryType> entries;  // what a walk of the tree reports
  std::vector<std::string> wide;  // the listing of tree/wide
  std::string deepest;  // of the levels create_directory makes

  FileFixture() {
    mkdir(outside.c_str(), 0755);
    vesk::testing::write_file(outside + "/kept");
    mkdir(tree.c_str(), 0755);
    add("wide", EntryType::directory);
    wide = {".", ".."};
    for (int i = 0; i < 130; ++i) {
      const std::string name = std::to_string(i) + std::string(250, 'w');
      add("wide/" + name, EntryType::regular);
      wide.push_back(name);
    }
    std::string level;
    for (int i = 0; i < 40; ++i) {
      level += level.empty() ? "d" : "/d";
      add(level, EntryType::directory);
      add(level + "/f", EntryType::regular);
    }
    symlink(outside.c_str(), (tree + "/out").c_str());
    entries["out"] = EntryType::link;
    vesk::testing::write_file(root / "file");
    deepest = root / "made";
    for (int i = 0; i < 40; ++i)
      deepest += "/m";
  }
  void add(const std::string& path, EntryType type) {
    if (type == EntryType::directory)
      mkdir((tree + "/" + path).c_str(), 0755);
    else
      vesk::testing::write_file(tree + "/" + path);
    entries[path] = type;
  }
  // "" while nothing outside the tree and the levels made has changed.
  std::string outsideChanged() const {
    const std::vector<std::string> listing = vesk::testing::os_listing(outside);
    if (listing.size() != 3 || vesk::testing::kind_at(outside + "/kept") != S_IFREG)
      return " outside changed";
    return "";
  }
};

// Runs `run` with the system calls counted and failing as asked; then, with nothing failing,
// checks that it kept no descriptor and changed nothing outside.
template <class Run>
auto armed(const FileFixture& fixture, Run run) {
  return [&fixture, run]() -> std::string {
    const std::size_t before = vesk::testing::open_descriptors();
    std::string result;
    try {
      gCallsArmed = true;
      result = run();
      gCallsArmed = false;
    } catch (...) {
      gCallsArmed = false;
      if (vesk::testing::open_descriptors() != before)
        return "threw with descriptors kept";
      throw;
    }
    if (vesk::testing::open_descriptors() != before)
      result += " descriptors kept";
    return result + fixture.outsideChanged();
  };
}

// The outcome of a modifying function: its result must say what is there afterwards; false
// (with what was there still there) is the documented outcome of a failed system call.
template <class Call, class Done>
std::string outcome(Call call, Done done_now) {
  const bool result = call();
  gCallsArmed = false;  // the check's own calls neither fail nor count
  const bool done = done_now();
  if (result != done)
    return result ? "success reported, not done" : "failure reported, done";
  if (!result)
    throw Documented();
  return "done";
}

// A walk of the fixture's tree: every entry reported as what it is, and never one from
// outside the tree; an entry missed (a directory not entered, a listing cut short) only with
// an error reported.
std::string walk(const FileFixture& fixture) {
  TreeWalker walker(fixture.tree);
  if (!walker.open())
    return walker.error() != 0 ? throw Documented() : "not open without an error";
  std::map<std::string, int> seen;
  bool failed = false;
  for (; walker.available(); walker.advance()) {
    const auto expected = fixture.entries.find(walker.path());
    if (expected == fixture.entries.end())
      return "outside the tree: " + walker.path();
    failed = failed || walker.error() != 0;
    if (++seen[walker.path()] > 1 && walker.error() == 0)
      return "twice without an error: " + walker.path();
    if (walker.type() != expected->second && walker.error() == 0)
      return "wrong type: " + walker.path();
  }
  failed = failed || walker.error() != 0;  // the listing of the top cut short
  if (seen.size() == fixture.entries.size() && !failed)
    return "all " + std::to_string(seen.size());
  if (!failed)
    return std::to_string(fixture.entries.size() - seen.size()) + " missed silently";
  throw Documented();
}

void file_workload(Transcript& t) {
  const FileFixture fixture;
  const std::string wide = fixture.tree + "/wide";
  t.step("iterator", armed(fixture, [&] {
           std::vector<std::string> names;
           DirectoryIterator it(wide);
           for (; it.available(); it.advance())
             names.push_back(it.current());
           if (!it.open())
             return it.error() != 0 ? throw Documented() : std::string("not open, no error");
           std::sort(names.begin(), names.end());
           std::vector<std::string> all = fixture.wide;
           std::sort(all.begin(), all.end());
           if (names == all)
             return std::string("all");
           // A listing that fails ends as if it were complete, error() saying why.
           if (std::includes(all.begin(), all.end(), names.begin(), names.end()) &&
               std::adjacent_find(names.begin(), names.end()) == names.end())
             return it.error() != 0 ? throw Documented() : std::string("cut short, no error");
           return std::string("names not in the directory");
         }));
  t.step("walk", armed(fixture, [&] { return walk(fixture); }));
  t.step("walk again", [&] { return walk(fixture); });
  t.step("exists", armed(fixture, [&] {
           const bool found[] = {
               directory_exists(fixture.tree), file_exists(wide + "/" + fixture.wide.back()),
               directory_exists(fixture.root / "file"), file_exists(fixture.root / "nothing")};
           // A status query that the system answers with "no such entry" finds nothing.
           const bool told_missing =
               gCalls.size() >= gFailingCall && (gCallError == ENOENT || gCallError == ENOTDIR);
           if (told_missing && !(found[0] && found[1]))
             throw Documented();
           return joined(found, 4);
         }));
  t.step("remove_file", armed(fixture, [&] {
           const std::string file = fixture.root / "file";
           return outcome([&] { return remove_file(file); },
                          [&] { return vesk::testing::kind_at(file) == 0; });
         }));
  t.step("remove_file again", [&] {
    const std::string file = fixture.root / "file";
    return outcome([&] { return remove_file(file); },
                   [&] { return vesk::testing::kind_at(file) == 0; });
  });
  t.step("remove_directory", armed(fixture, [&] {
           return outcome([&] { return remove_directory(fixture.tree); },
                          [&] { return vesk::testing::kind_at(fixture.tree) == 0; });
         }));
  t.step("remove_directory again", [&] {
    return outcome([&] { return remove_directory(fixture.tree); },
                   [&] { return vesk::testing::kind_at(fixture.tree) == 0; });
  });
  t.step("create_directory", armed(fixture, [&] {
           return outcome([&] { return create_directory(fixture.deepest); },
                          [&] { return vesk::testing::kind_at(fixture.deepest) == S_IFDIR; });
         }));
  t.step("create_directory again", [&] {
    return outcome([&] { return create_directory(fixture.deepest); },
                   [&] { return vesk::testing::kind_at(fixture.deepest) == S_IFDIR; });
  });
  t.step("md5_file", armed(fixture, [&] {
           unsigned int digest[4];
           md5_file(fixture.outside + "/kept", digest);
           return std::string(md5_hex(digest).c_str());
         }));
  t.step("tempnam", armed(fixture, [] {
           const std::string name = tempnam();
           if (name.empty())
             throw Documented();
           return name.find("/vesk-") != std::string::npos ? "a fresh name" : name;
         }));
}

// ---- The driver

// What fails in a run: nothing, one allocation (`point`, counted from 1), every allocation from
// `point` on, or system call `point` of the steps run armed, with error number `error`.
struct Fault {
  enum Kind { None, Allocation, AllocationsFrom, SystemCall } kind = None;
  unsigned long point = 0;
  int error = 0;
};

struct Outcome {
  int status = -1;  // as waitpid gives it
  std::vector<std::string> lines;
  // Not compared line by line: the allocations made (host and system), those of the text that
  // grows the table, the anonymous mappings, the system calls made armed, and the table's
  // final report.
  unsigned long allocations = 0;
  unsigned long growth_allocations = 0;
  unsigned long mappings = 0;
  std::vector<std::string> calls;
  std::string table;
};

// The workload in a child process, whose allocations or system calls fail as asked; its
// transcript comes back through a pipe.
Outcome run_in_child(void (*work)(Transcript&), Fault fault) {
  texts_of_one_bucket();  // found once, in this process, before any child
  fillers();
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0)
    std::abort();
  const pid_t child = fork();
  if (child == 0) {
    close(pipe_ends[0]);
    std::string out;
    {
      if (fault.kind == Fault::Allocation)
        vesk::testing::fail_host_allocation(fault.point);
      else if (fault.kind == Fault::AllocationsFrom)
        vesk::testing::fail_host_allocations_from(fault.point);
      else
        vesk::testing::fail_no_host_allocation();
      vesk::testing::system_allocation_fails = next_system_allocation_fails;
      if (fault.kind == Fault::SystemCall) {
        gFailingCall = fault.point;
        gCallError = fault.error;
      }
      vesk::testing::system_call_fails = next_system_call_fails;
      Transcript t;
      try {
        work(t);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "undocumented exception: %s\n", e.what());
        _exit(2);
      }
      const unsigned long allocations = vesk::testing::host_allocations_counted();
      vesk::testing::fail_no_host_allocation();
      for (const std::string& line : t.lines)
        out += line + '\n';
      out += '\n' + std::to_string(allocations) + ' ' + std::to_string(gGrowthAllocations) + ' ' +
             std::to_string(gMappings) + '\n';
      for (const std::string& call : gCalls)
        out += call + ' ';
      out += '\n' + table_report();
    }
    const bool leaked =
        &__lsan_do_recoverable_leak_check != nullptr && __lsan_do_recoverable_leak_check() != 0;
    for (std::size_t at = 0; at < out.size();) {
      const ssize_t written = write(pipe_ends[1], out.data() + at, out.size() - at);
      if (written <= 0)
        _exit(3);
      at += static_cast<std::size_t>(written);
    }
    _exit(leaked ? 4 : 0);
  }
  close(pipe_ends[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(got));
  close(pipe_ends[0]);
  Outcome run;
  waitpid(child, &run.status, 0);
  std::istringstream in(text);
  for (std::string line; std::getline(in, line) && !line.empty();)
    run.lines.push_back(line);
  in >> run.allocations >> run.growth_allocations >> run.mappings;
  std::string calls;
  std::getline(in, calls);
  std::getline(in, calls);
  std::istringstream names(calls);
  for (std::string name; names >> name;)
    run.calls.push_back(name);
  const std::streamoff at = in.tellg();
  run.table = at < 0 ? std::string() : text.substr(static_cast<std::size_t>(at));
  return run;
}

// Checks a run against the run without failures: each step as there, or ended in a documented
// error (a filesystem error only with the system's error number that was made to fail). True
// when every step completed.
bool ended_clean(const Outcome& run, const Outcome& reference, const Fault& fault,
                 const std::string& where) {
  EXPECT_EQ(run.status, 0) << where << ": crashed, leaked or threw (see its output above)";
  EXPECT_EQ(run.lines.size(), reference.lines.size()) << where;
  if (run.lines.size() != reference.lines.size())
    return false;
  bool all_completed = true;
  for (std::size_t i = 0; i < run.lines.size(); ++i) {
    const std::string& expected = reference.lines[i];
    const std::string name = expected.substr(0, expected.find('='));
    if (run.lines[i] == expected)
      continue;
    all_completed = false;
    const bool documented =
        run.lines[i].rfind(name + '!', 0) == 0 &&
        (run.lines[i].find("!filesystem") == std::string::npos ||
         run.lines[i] == name + "!filesystem " + std::to_string(fault.error) + " system");
    EXPECT_TRUE(documented) << where << ": " << run.lines[i]
                            << " where a run without failures gives " << expected;
  }
  return all_completed;
}

TEST(AllocationSweep, EveryRunWithFailingAllocationsEndsClean) {
  const Outcome reference = run_in_child(workload, Fault{});
  ASSERT_EQ(reference.status, 0);
  for (const std::string& line : reference.lines)
    ASSERT_EQ(line.find('!'), std::string::npos) << line;
  ASSERT_EQ(reference.growth_allocations, 2u)
      << "the ninth text of one bucket grows the table and doubles the record index at once";
  ASSERT_GE(reference.mappings, 1u) << "the many texts need an index mapped from the system";
  unsigned long runs = 1;
  for (unsigned long point = 1; point <= reference.allocations; ++point) {
    if (!in_this_shard(point))
      continue;
    for (Fault::Kind kind : {Fault::Allocation, Fault::AllocationsFrom}) {
      const Fault fault{kind, point, 0};
      const Outcome run = run_in_child(workload, fault);
      ++runs;
      const std::string where = "allocation " + std::to_string(point) +
                                (kind == Fault::Allocation ? " failing" : " and all after failing");
      // Every step completed, a failed text taken on its retry: the failure left no trace.
      if (ended_clean(run, reference, fault, where)) {
        EXPECT_EQ(run.table, reference.table) << where;
      }
    }
  }
  std::printf("%lu allocation points, %lu runs\n", reference.allocations, runs);
  RecordProperty("allocation_points", static_cast<int>(reference.allocations));
}

TEST(AllocationSweep, EveryRunWithAFailingFileSystemCallEndsClean) {
  const Outcome reference = run_in_child(file_workload, Fault{});
  ASSERT_EQ(reference.status, 0);
  for (const std::string& line : reference.lines)
    ASSERT_EQ(line.find('!'), std::string::npos) << line;
  std::map<std::string, unsigned long> calls;
  std::set<int> errors;
  unsigned long runs = 0;
  for (unsigned long point = 1; point <= reference.calls.size(); ++point) {
    const std::string& call = reference.calls[point - 1];
    ++calls[call];
    if (!in_this_shard(point))
      continue;
    for (const int error : vesk::testing::system_call_errors(call.c_str())) {
      const Fault fault{Fault::SystemCall, point, error};
      const Outcome run = run_in_child(file_workload, fault);
      ++runs;
      errors.insert(error);
      const bool completed = ended_clean(run, reference, fault,
                                         "call " + std::to_string(point) + " (" + call +
                                             ") failing with " + strerrorname_np(error));
      // An interrupted call is made again: nothing shows.
      EXPECT_TRUE(completed || error != EINTR) << "call " << point << " (" << call << ")";
    }
  }
  std::printf("%zu system calls, %zu error numbers, %lu runs:", reference.calls.size(),
              errors.size(), runs);
  for (const auto& [call, count] : calls)
    std::printf(" %s %lu", call.c_str(), count);
  std::printf("\n");
}

}  // namespace
