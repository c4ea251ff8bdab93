#include "net/posix/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

extern char** environ;

namespace korvex::test {

ChildProcess::ChildProcess(const std::string& program, const std::map<std::string, std::string>& env,
                           const std::vector<std::string>& args) {
    // A child that has died must show as a failed write, not end the tests.
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        if (!env.contains(entry.substr(0, entry.find('=')))) entries.push_back(std::move(entry));
    }
    for (const auto& [name, value] : env)
        if (!value.empty()) entries.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program;
    std::vector<std::string> words = args;
    std::vector<char*> argv = {path.data()};
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int to_child[2], from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0) return;
    if (pipe2(from_child, O_CLOEXEC) != 0) {
        close(to_child[0]);
        close(to_child[1]);
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(to_child[0], STDIN_FILENO);
        dup2(from_child[1], STDOUT_FILENO);
        dup2(from_child[1], STDERR_FILENO);
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    in_ = to_child[1];
    out_ = from_child[0];
    if (pid_ < 0) {
        close(in_);
        close(out_);
        in_ = out_ = -1;
    }
}

ChildProcess::~ChildProcess() {
    if (in_ >= 0) close(in_);
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
}

void ChildProcess::close_input() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

bool ChildProcess::write_line(const std::string& line) {
    std::string text = line + "\n";
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(in_, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<std::string> ChildProcess::next_line(std::chrono::steady_clock::time_point until) {
    for (;;) {
        if (auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            transcript_.push_back(line);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd p{out_, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        char chunk[4096];
        ssize_t n = read(out_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        pending_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> ChildProcess::read_until(const std::function<bool(const std::string&)>& match,
                                                    std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (auto line = next_line(until)) {
        if (match(*line)) return line;
    }
    return std::nullopt;
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            exited_ = true;
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return std::nullopt;
        }
        if (done < 0 || std::chrono::steady_clock::now() > until) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace korvex::test
