// Every allocation of one workload over the whole library, from the host or from the system
// (calloc and mmap), fails in turn, once alone and once with every later one failing too.
// Each run, in a process of its own, must end clean: every step completed or ended in an
// error the library documents, nothing leaked (checked when a leak checker is loaded), and
// what succeeded equal to a run without failures.
#include <vesk/foundation_util.hpp>
#include <vesk/host/host_util.h>

#include "support/host_fake.hpp"
#include "support/scratch_dir.hpp"
#include "support/system_memory.hpp"
#include "support/table_report.hpp"
#include "support/test_errors.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace {

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

// ---- The driver

struct Outcome {
  int status = -1;  // as waitpid gives it
  std::vector<std::string> lines;
  // Not compared line by line: the allocations made (host and system), those of the text that
  // grows the table, the anonymous mappings, and the table's final report.
  unsigned long allocations = 0;
  unsigned long growth_allocations = 0;
  unsigned long mappings = 0;
  std::string table;
};

// The workload in a child process, whose allocations fail as asked; its transcript comes back
// through a pipe.
Outcome run_in_child(Failing failing, unsigned long point) {
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
      if (failing == Failing::One)
        vesk::testing::fail_host_allocation(point);
      else if (failing == Failing::FromOn)
        vesk::testing::fail_host_allocations_from(point);
      else
        vesk::testing::fail_no_host_allocation();
      vesk::testing::system_allocation_fails = next_system_allocation_fails;
      Transcript t;
      try {
        workload(t);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "undocumented exception: %s\n", e.what());
        _exit(2);
      }
      const unsigned long allocations = vesk::testing::host_allocations_counted();
      vesk::testing::fail_no_host_allocation();
      for (const std::string& line : t.lines)
        out += line + '\n';
      out += '\n' + std::to_string(allocations) + ' ' + std::to_string(gGrowthAllocations) + ' ' +
             std::to_string(gMappings) + '\n' + table_report();
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
  const std::streamoff at = in.tellg();
  run.table = at < 0 ? std::string() : text.substr(static_cast<std::size_t>(at) + 1);
  return run;
}

TEST(AllocationSweep, EveryRunWithFailingAllocationsEndsClean) {
  const Outcome reference = run_in_child(Failing::None, 0);
  ASSERT_EQ(reference.status, 0);
  for (const std::string& line : reference.lines)
    ASSERT_EQ(line.find('!'), std::string::npos) << line;
  ASSERT_EQ(reference.growth_allocations, 2u)
      << "the ninth text of one bucket grows the table and doubles the record index at once";
  ASSERT_GE(reference.mappings, 1u) << "the many texts need an index mapped from the system";
  for (unsigned long point = 1; point <= reference.allocations; ++point) {
    for (Failing failing : {Failing::One, Failing::FromOn}) {
      const Outcome run = run_in_child(failing, point);
      const std::string where = "allocation " + std::to_string(point) +
                                (failing == Failing::One ? " failing" : " and all after failing");
      EXPECT_EQ(run.status, 0) << where << ": crashed, leaked or threw (see its output above)";
      ASSERT_EQ(run.lines.size(), reference.lines.size()) << where;
      bool all_completed = true;
      for (std::size_t i = 0; i < run.lines.size(); ++i) {
        const std::string& expected = reference.lines[i];
        const std::string name = expected.substr(0, expected.find('='));
        if (run.lines[i] != expected) {
          all_completed = false;
          EXPECT_EQ(run.lines[i].rfind(name + '!', 0), 0u)
              << where << ": " << run.lines[i] << " where a run without failures gives "
              << expected;
        }
      }
      // Every step completed, a failed text taken on its retry: the failure left no trace.
      if (all_completed) {
        EXPECT_EQ(run.table, reference.table) << where;
      }
    }
  }
  std::printf("%lu allocation points, %lu runs\n", reference.allocations,
              2 * reference.allocations + 1);
  RecordProperty("allocation_points", static_cast<int>(reference.allocations));
}

}  // namespace
