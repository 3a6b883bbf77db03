// A child process for the SysUtils tests: it installs (or not) the
// last-chance handlers and then meets the event its mode names. It never
// calls anything that changes the machine.
//   wait-term catch|plain   print "ready", then wait for a signal
//   terminate               std::terminate() after installing the handlers
//   alloc                   an allocation that cannot succeed, after installing them
//   sigint                  raise SIGINT after installing them (not hooked)
//   exit <code>             exit at once (a harmless stand-in program)
#include <sys/sysutils.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 2)
        return 64;
    const char *mode = argv[1];
    if (std::strcmp(mode, "exit") == 0)
        return argc > 2 ? std::atoi(argv[2]) : 0;

    const bool install = !(argc > 2 && std::strcmp(argv[2], "plain") == 0);
    if (install)
        SysUtils::catchSystemExceptions();

    if (std::strcmp(mode, "wait-term") == 0) {
        std::puts("ready");
        std::fflush(stdout);
        for (;;)
            pause();
    }
    if (std::strcmp(mode, "terminate") == 0)
        std::terminate();
    if (std::strcmp(mode, "alloc") == 0) {
        void *volatile block = ::operator new(std::numeric_limits<std::size_t>::max() / 2);
        ::operator delete(block);
        return 70;
    }
    if (std::strcmp(mode, "sigint") == 0) {
        std::raise(SIGINT);
        return 71;
    }
    return 64;
}
