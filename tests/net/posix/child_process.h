#pragma once
// A child program with its standard input and output on pipes, for tests
// that drive a console program line by line.
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korvex::test {

class ChildProcess {
public:
    // Starts `program` with this process's environment, changed by `env`
    // (an empty value removes the variable), with `args` after the program
    // name. Standard error goes to standard output.
    ChildProcess(const std::string& program, const std::map<std::string, std::string>& env,
                 const std::vector<std::string>& args = {});
    ~ChildProcess();  // kills the child if it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    bool write_line(const std::string& line);
    // Closes the child's standard input: it reads the end of its input.
    void close_input();
    // The next output line that `match` accepts (lines before it are kept in
    // transcript()); nothing when the output ends or the time runs out.
    std::optional<std::string> read_until(const std::function<bool(const std::string&)>& match,
                                          std::chrono::milliseconds limit);
    // The exit code, or nothing when the child has not exited in time or
    // was ended by a signal.
    std::optional<int> wait_exit(std::chrono::milliseconds limit);
    const std::vector<std::string>& transcript() const { return transcript_; }

private:
    std::optional<std::string> next_line(std::chrono::steady_clock::time_point until);

    pid_t pid_ = -1;
    int in_ = -1;   // the child's standard input
    int out_ = -1;  // the child's standard output
    std::string pending_;
    std::vector<std::string> transcript_;
    bool exited_ = false;
};

}  // namespace korvex::test
