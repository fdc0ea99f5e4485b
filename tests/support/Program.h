// A program of the build started by a test, with some environment variables
// set and its standard error going to a file; killed when the object goes if
// it still runs.
//
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
    Program(const std::string& path, const std::map<std::string, std::string>& environment,
            const std::string& stderrPath, const std::vector<std::string>& prefix = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    bool running();
    // The exit status; -1 when it was killed by a signal or is still running
    // after the timeout.
    int wait(std::chrono::milliseconds timeout);
    void signal(int number);

  private:
    pid_t mPid;
    int mStatus = -1;
    bool mEnded = false;
};

// The path of a program built into this build's bin folder.
std::string binary(const std::string& name);
