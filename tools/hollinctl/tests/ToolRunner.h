// Runs a program for a test and collects what it writes: either to completion
// (run) or as a running child whose output is read line by line (start).
//
//   ToolRunner::Result r = ToolRunner::run({kHollinctl, "list"}, {{"VESK_POLICY_STORE", dir}});
//   EXPECT_EQ(r.status, 0);
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

class ToolRunner {
  public:
    struct Result {
        int status = -1;  // exit status, or 128 + signal
        std::string out;
        std::string err;
    };

    // Runs to the end, with the environment changed as given (an empty value
    // unsets a variable) and standard input empty.
    static Result run(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& environment = {});

    // Starts the program; the destructor kills it if it still runs.
    ToolRunner(const std::vector<std::string>& args,
               const std::map<std::string, std::string>& environment);
    ~ToolRunner();
    ToolRunner(const ToolRunner&) = delete;
    ToolRunner& operator=(const ToolRunner&) = delete;

    // The next line (without its line end) of standard output or error, or
    // false when none came within the timeout or the stream ended.
    bool readOutLine(std::string& line, std::chrono::milliseconds timeout);
    bool readErrLine(std::string& line, std::chrono::milliseconds timeout);
    // Sends the signal and waits for the end: the exit status, or 128 + signal.
    int stop(int signal);

  private:
    bool readLine(int fd, std::string& buffer, std::string& line,
                  std::chrono::milliseconds timeout);

    pid_t mPid;
    int mOut;
    int mErr;
    std::string mOutBuffer;
    std::string mErrBuffer;
};
