// qvsim: the outside world of qvconfig on this host: a CAN-Ethernet bridge on the loopback
// interface and the controllers on its bus. See README.md for the options.
#include <fcntl.h>
#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "link/net/socket.h"
#include "sim/options.h"
#include "sim/world.h"

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
    // SIGINT and SIGTERM are blocked and read from a descriptor by the loop, which then ends
    // cleanly; no asynchronous handler runs.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (::sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fprintf(stderr, "qvsim: cannot block SIGINT and SIGTERM\n");
        return 1;
    }
    const qv::net::Fd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!signals.valid()) {
        std::fprintf(stderr, "qvsim: cannot watch SIGINT and SIGTERM\n");
        return 1;
    }
    world.stopWhenReadable(signals.get());
    std::signal(SIGPIPE, SIG_IGN);
    if (haveStdin) world.watchCommands(0);
    std::printf("qvsim ready\n");
    std::fflush(stdout);
    world.run(options.seconds);
    return 0;
}
