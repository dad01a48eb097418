// POSIX: port workers as threads with a pipe each (see port_workers.h).
#include "cli/port_workers.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>
#include <system_error>

#include "cli/cli.h"
#include "cli/json_events.h"

namespace vantor::cli {

namespace {

using Clock = std::chrono::steady_clock;

// An output stream's buffer that writes to a file descriptor (a worker's end of its pipe) when
// the stream is flushed or the buffer is full.
class FdOutput : public std::streambuf {
 public:
  explicit FdOutput(int fd) : m_fd(fd) { setp(m_buffer.data(), m_buffer.data() + m_buffer.size()); }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0)
      return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    const char* data = pbase();
    std::size_t left = static_cast<std::size_t>(pptr() - pbase());
    while (left > 0) {
      const ssize_t put = ::write(m_fd, data, left);
      if (put < 0 && errno == EINTR)
        continue;
      if (put <= 0)
        return -1;
      data += put;
      left -= static_cast<std::size_t>(put);
    }
    setp(m_buffer.data(), m_buffer.data() + m_buffer.size());
    return 0;
  }

 private:
  int m_fd;
  std::array<char, 4096> m_buffer{};
};

// The worker's thread: the command line with its output into the pipe, which it closes at the
// end so that the parent reads the end of file.
void RunWorker(Worker& w, const std::vector<std::string>& args, int out) {
  try {
    FdOutput buffer(out);
    std::ostream stream(&buffer);
    w.exitCode = RunCli(args, stream, std::cerr, false, w.cancel.get());
    stream.flush();
  } catch (...) {
    w.exitCode = kExitFailure;  // no result event: the summary says the worker ended without one
  }
  ::close(out);
}

}  // namespace

bool StartWorker(Worker& w, std::vector<std::string> args) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    w.message = "cannot start a worker: " + std::string(std::strerror(errno));
    return false;
  }
  w.cancel = std::make_unique<CancelToken>();
  // The thread starts with SIGINT and SIGTERM blocked, so that they reach the parent's thread,
  // and SIGPIPE too: a pipe whose reader is gone fails the write instead of ending the process.
  sigset_t signals;
  sigset_t previous;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &signals, &previous);
  try {
    w.thread = std::thread(RunWorker, std::ref(w), std::move(args), fds[1]);
  } catch (const std::system_error& e) {
    w.message = std::string("cannot start a worker: ") + e.what();
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (!w.thread.joinable()) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  w.fd = fds[0];
  return true;
}

void ApplyEvent(Worker& w, const std::map<std::string, std::string>& event) {
  const auto get = [&event](const char* key) {
    const auto it = event.find(key);
    return it == event.end() ? std::string() : it->second;
  };
  const std::string kind = get("event");
  if (kind == "port_opened") {
    w.step = "detecting";
  } else if (kind == "detected" && get("purpose") == "detect") {
    w.answered = get("state") == "none" ? "none" : get("version");
    w.step = "detected";
  } else if (kind == "boot_request") {
    w.step = "~dboot " + get("outcome");
  } else if (kind == "bootloader") {
    w.step = "bootloader " + get("version");
  } else if (kind == "segment_started") {
    w.step = get("what") + " " + std::to_string(std::stoi(get("index")) + 1) + "/" + get("count");
  } else if (kind == "progress") {
    w.percent = std::stoi(get("percent"));
    if (!w.progressSince)
      w.progressSince = Clock::now();
  } else if (kind == "attempt") {
    w.attempt = std::stoi(get("attempt"));
    w.step = "attempt " + get("attempt") + " of " + get("of");
    w.percent = 0;
    w.progressSince.reset();
    w.code.reset();  // a failed attempt's result is not the device's
    w.message.clear();
  } else if (kind == "detected") {
    w.step = "detected again: " + (get("state") == "none" ? std::string("none") : get("version"));
  } else if (kind == "verify") {
    w.step = get("ok") == "true" ? "verified" : "verify failed";
  } else if (kind == "result") {
    w.code = std::stoi(get("code"));
    w.message = get("message");
    if (const std::string meaning = get("meaning"); !meaning.empty())
      w.message += "\n" + meaning;
    w.step = *w.code == 0 ? "done" : "failed";
  }
}

std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r')
      c = ' ';
  }
  return text;
}

bool ReadWorkerLines(Worker& w, std::vector<std::string>& lines) {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(w.fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  if (n <= 0) {
    ::close(w.fd);
    w.fd = -1;
    w.seconds = std::chrono::duration<double>(Clock::now() - w.started).count();
    return false;
  }
  w.pending.append(buffer, static_cast<std::size_t>(n));
  std::size_t end;
  while ((end = w.pending.find('\n')) != std::string::npos) {
    lines.push_back(w.pending.substr(0, end));
    w.pending.erase(0, end + 1);
    if (auto event = ParseFlatJson(lines.back()))
      ApplyEvent(w, *event);
  }
  return true;
}

void PauseBeforeReading(int wakeFd, Clock::time_point since) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(since + kWorkerReadPause - Clock::now());
  if (left.count() <= 0)
    return;
  pollfd pfd{wakeFd, POLLIN, 0};
  ::poll(&pfd, wakeFd >= 0 ? 1 : 0, static_cast<int>(left.count()));
}

void WaitWorker(Worker& w) {
  if (w.fd >= 0) {
    ::close(w.fd);  // a worker still writing then fails its write instead of waiting for room
    w.fd = -1;
  }
  if (w.thread.joinable())
    w.thread.join();
  if (!w.code) {
    w.code = -1;
    if (w.message.empty())
      w.message = "the worker ended without a result";
  }
}

void CancelWorker(Worker& w) {
  if (w.cancel != nullptr)
    w.cancel->Cancel();
}

void PrintSummary(Env& env, const std::vector<const Worker*>& workers) {
  char line[768];
  std::snprintf(line, sizeof line, "%-20s %-20s %8s %8s %8s  %s\n", "port", "answered", "result",
                "attempts", "seconds", "message");
  env.out << line;
  for (const Worker* w : workers) {
    std::snprintf(line, sizeof line, "%-20s %-20s %8d %8d %8.1f  %s\n", w->port.c_str(),
                  w->answered.c_str(), w->code.value_or(-1), w->attempt, w->seconds,
                  OneLine(w->message).c_str());
    env.out << line;
  }
  env.out.flush();
}

}  // namespace vantor::cli
