// Running the tools as programs, as a user does.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tooltest {

struct Outcome {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string output;
};

// Starts a command line with standard error folded into standard output; it runs while the
// caller goes on, until FinishCommand.
inline FILE* StartCommand(const std::string& command) { return popen((command + " 2>&1").c_str(), "r"); }

// Reads the command's output to its end and waits for the program to exit.
inline Outcome FinishCommand(FILE* p)
{
    Outcome o;
    if (p == nullptr)
        return o;
    char buf[512];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        o.output.append(buf, n);
    const int raw = pclose(p);
    if (raw != -1 && WIFEXITED(raw))
        o.status = WEXITSTATUS(raw);
    return o;
}

inline Outcome RunCommand(const std::string& command) { return FinishCommand(StartCommand(command)); }

} // namespace tooltest
