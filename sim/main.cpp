// kelvo-sim: the simulated camera agent as a program.
//
// The main thread parses the options, starts CKelvoSim and then only waits for a stop request
// (SIGINT, SIGTERM or the "quit" command) before stopping it. Everything else runs on the
// simulator's own threads (see sim/KelvoSim.h). With --interactive a detached reader thread takes
// commands from standard input; it never outlives the stop, because the process ends right after.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "sim/KelvoSim.h"
#include "sim/SimOptions.h"

namespace {

volatile std::sig_atomic_t g_signalled = 0;

void OnSignal(int) { g_signalled = 1; }

void ReadCommands(pxsim::CKelvoSim* sim, std::atomic<bool>* quit)
{
    std::string line;
    while (std::getline(std::cin, line)) {
        const size_t space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);
        if (verb == "quit") {
            quit->store(true);
            return;
        }
        if (verb == "frame") {
            sim->ProduceFrame();
        } else if (verb == "add") {
            pxsim::SimBufferConfig b;
            std::string error;
            uint16_t port = 0;
            if (!pxsim::ParseBufferOption(arg, &b, &error))
                fprintf(stderr, "kelvo-sim: %s\n", error.c_str());
            else if (int e = sim->AddBuffer(b, &port))
                fprintf(stderr, "kelvo-sim: add %s: %s\n", arg.c_str(), strerror(e));
            else
                printf("added %s on port %u\n", b.id.ToText().c_str(), port);
        } else if (verb == "remove") {
            if (sim->RemoveBuffer(arg.c_str()) != 0)
                fprintf(stderr, "kelvo-sim: remove %s: no such buffer\n", arg.c_str());
        } else if (!verb.empty()) {
            fprintf(stderr, "kelvo-sim: commands are add, remove, frame and quit\n");
        }
        fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    pxsim::SimOptions options;
    std::string error;
    if (!pxsim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        fprintf(stderr, "kelvo-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.bHelp) {
        fputs(pxsim::SimUsage(), stdout);
        fputs(pxsim::SimWebUsage(), stdout);
        return 0;
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    pxsim::CKelvoSim sim;
    sim.SetLog(
        [](uint32_t, const char* line) {
            px::TimeOfDay t{};
            px::LocalTimeOfDay(&t);
            printf("%02u:%02u:%02u.%03u %s\n", t.hour, t.minute, t.second, t.millisecond, line);
            fflush(stdout);
        },
        options.dwVerbosity);
    if (int e = sim.Start(options.config)) {
        const std::string port = sim.StartFailure();
        fprintf(stderr, "kelvo-sim: cannot start: %s%s\n", strerror(e),
                port.empty() ? "" : (" on " + port + " (--ephemeral takes free ports, --help lists the port options)").c_str());
        return 1;
    }

    std::atomic<bool> quit{false};
    if (options.bInteractive)
        std::thread(ReadCommands, &sim, &quit).detach();

    px::Event never(true, false);
    while (!g_signalled && !quit.load())
        never.Wait(100);   // a signal only sets a flag; look at it ten times a second
    sim.Stop();
    return 0;
}
