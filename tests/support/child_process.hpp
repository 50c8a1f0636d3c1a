// Test support: checks run in a child process, so that what they change of the process (its
// user, its limits) stays there, and what they report comes back as text.
#ifndef VESK_TESTS_SUPPORT_CHILD_PROCESS_HPP
#define VESK_TESTS_SUPPORT_CHILD_PROCESS_HPP

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace vesk::testing {

// Runs `checks` in a child process; returns what they reported (empty when all held). A
// child that has not ended within `limit` (none when it is negative) is killed and reported as
// hung.
inline std::string in_child(const std::function<std::string()>& checks,
                            std::chrono::milliseconds limit = std::chrono::milliseconds(-1)) {
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
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string report;
  bool hung = false;
  for (;;) {
    // The channel ends when the child does.
    int wait = -1;
    if (limit.count() >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd channel_end{channel[0], POLLIN, 0};
    const int ready = poll(&channel_end, 1, wait);
    if (ready < 0 && errno == EINTR)
      continue;
    hung = ready == 0;
    char buffer[512];
    const ssize_t got = ready > 0 ? read(channel[0], buffer, sizeof buffer) : 0;
    if (got <= 0)
      break;
    report.append(buffer, static_cast<std::size_t>(got));
  }
  close(channel[0]);
  if (hung)
    kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (hung)
    report += " (child hung)";
  else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
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
