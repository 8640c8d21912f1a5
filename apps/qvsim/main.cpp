// qvsim: the outside world of qvconfig on this host: a CAN-Ethernet bridge on the loopback
// interface and the controllers on its bus. See README.md for the options.
#include <fcntl.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/options.h"
#include "sim/world.h"

namespace {

qv::sim::World* g_world = nullptr;

extern "C" void onSignal(int) {
    if (g_world) g_world->stop();
}

}  // namespace

int main(int argc, char** argv) {
    qv::sim::Options options;
    try {
        options = qv::sim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const qv::sim::UsageError& e) {
        std::fprintf(stderr, "qvsim: %s\n(qvsim --help lists the options)\n", e.what());
        return 2;
    }
    if (options.help) {
        std::fputs(qv::sim::usageText().c_str(), stdout);
        return 0;
    }
    // Commands come from standard input only when it is open: otherwise descriptor 0 could
    // become one of the sockets opened below.
    const bool haveStdin = ::fcntl(0, F_GETFD) != -1;
    qv::sim::World world(options);
    std::string error;
    if (!world.open(&error)) {
        std::fprintf(stderr, "qvsim: %s\n", error.c_str());
        return 1;
    }
    g_world = &world;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (haveStdin) world.watchCommands(0);
    std::printf("qvsim ready\n");
    std::fflush(stdout);
    world.run(options.seconds);
    g_world = nullptr;
    return 0;
}
