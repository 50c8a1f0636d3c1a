// Test support: checks run in a child process, so that what they change of the process (its
// user, its limits) stays there, and what they report comes back as text.
#ifndef VESK_TESTS_SUPPORT_CHILD_PROCESS_HPP
#define VESK_TESTS_SUPPORT_CHILD_PROCESS_HPP

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace vesk::testing {

// Runs `checks` in a child process; returns what they reported (empty when all held).
inline std::string in_child(const std::function<std::string()>& checks) {
  int channel[2];
  if (pipe(channel) != 0)
    return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    std::string report;
    try {
      report = checks();
    } catch (const std::exception& error) {
      report = error.what();
    }
    ssize_t written = write(channel[1], report.data(), report.size());
    const int code = written == static_cast<ssize_t>(report.size()) ? 0 : 1;
#ifdef VESK_COVERAGE_BUILD
    // The coverage runtime writes the child's counters at exit, which _exit would skip.
    std::exit(code);
#else
    _exit(code);
#endif
  }
  close(channel[1]);
  std::string report;
  char buffer[512];
  ssize_t got;
  while ((got = read(channel[0], buffer, sizeof buffer)) > 0)
    report.append(buffer, static_cast<std::size_t>(got));
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    report += " (child ended abnormally)";
  return report;
}

// Takes every free descriptor number below the highest one open (dups of 0, added to
// `taken`) and returns the number after that highest one: descriptors the process opens from
// now on get numbers from there, so that setting the limit to it leaves none free, and to it
// plus n leaves n. For a child process, whose descriptors and limits go with it.
inline int fill_descriptors_below_highest(std::vector<int>& taken) {
  int highest = 2;
  for (int fd = 0; fd < 4096; ++fd)
    if (fcntl(fd, F_GETFD) >= 0)
      highest = fd;
  for (int fd = dup(0); fd >= 0; fd = dup(0)) {
    if (fd > highest) {
      close(fd);
      break;
    }
    taken.push_back(fd);
  }
  return highest + 1;
}

// Sets the limit of descriptor numbers of the process; false when the system refuses.
inline bool limit_descriptors(rlim_t limit) {
  rlimit now;
  getrlimit(RLIMIT_NOFILE, &now);
  now.rlim_cur = limit;
  return setrlimit(RLIMIT_NOFILE, &now) == 0;
}

// The same, with root's privileges dropped to those of nobody, starting in `directory`.
inline std::string as_nobody(const std::string& directory,
                             const std::function<std::string()>& checks) {
  return in_child([&]() -> std::string {
    if (chdir(directory.c_str()) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      return "could not become nobody";
    return checks();
  });
}

}  // namespace vesk::testing

#endif
