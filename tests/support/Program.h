// SPDX-License-Identifier: LGPL-2.1-or-later
// A program started by a test, with its environment changed as given (an
// empty value unsets a variable): run to its end with what it wrote
// collected, or running beside the test with its standard error going to a
// file, or with its output read line by line. Killed when the object goes if
// it still runs.
//
//   Program::Result r = Program::run({binary("hollinctl"), "list"}, {{"VESK_POLICY_STORE", dir}});
//   Program startlist(binary("startlist"), {{"HOME", home}}, "/tmp/startlist.err");
//   EXPECT_EQ(startlist.wait(std::chrono::seconds(20)), 0);
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

class Program {
  public:
    struct Result {
        int status = -1;  // exit status, or 128 + signal
        std::string out;
        std::string err;
    };

    // Runs to the end with standard input empty.
    static Result run(const std::vector<std::string>& args,
                      const std::map<std::string, std::string>& environment = {});

    // Standard output as the test's, standard error to the file; the program
    // is started through prefix when one is given.
    Program(const std::string& path, const std::map<std::string, std::string>& environment,
            const std::string& stderrPath, const std::vector<std::string>& prefix = {});
    // Standard output and error read with readOutLine and readErrLine.
    Program(const std::vector<std::string>& args,
            const std::map<std::string, std::string>& environment);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool running();
    // The exit status; -1 when it was killed by a signal or is still running
    // after the timeout.
    int wait(std::chrono::milliseconds timeout);
    void signal(int number);
    // Sends the signal and waits for the end: the exit status, or 128 + signal.
    int stop(int number);

    // The next line (without its line end) of standard output or error, or
    // false when none came within the timeout or the stream ended.
    bool readOutLine(std::string& line, std::chrono::milliseconds timeout);
    bool readErrLine(std::string& line, std::chrono::milliseconds timeout);

  private:
    pid_t mPid = -1;
    int mStatus = -1;
    bool mEnded = false;
    int mOut = -1;
    int mErr = -1;
    std::string mOutBuffer;
    std::string mErrBuffer;
};

// The path of a program built into this build's bin folder.
std::string binary(const std::string& name);

// A prefix that starts a program as a user whose inotify instances are all
// used up (in a user namespace of its own, with the limit at 0); empty where
// user namespaces cannot be made.
std::vector<std::string> withoutInotifyPrefix();
