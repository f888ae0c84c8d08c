// Start-up cost of a program with a window, on the X server in DISPLAY: the time from
// process start to its window being mapped (median of several starts), its peak
// resident memory, and the CPU time it uses while it sits idle.
//
// startup_bench [--runs N] [--idle SECONDS] NAME=PROGRAM...
// Prints one Markdown table, a column per program; with two, a last column gives
// the first's figures as a multiple of the second's.

#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

double now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void sleepFor(double seconds) {
    timespec t{static_cast<time_t>(seconds),
               static_cast<long>((seconds - static_cast<time_t>(seconds)) * 1e9)};
    while (nanosleep(&t, &t) != 0) {
    }
}

// Waits for a top-level window to be mapped; false after the timeout.
bool waitForMap(Display* display, double timeout) {
    const double until = now() + timeout;
    while (now() < until) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) {
                return true;
            }
        }
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        poll(&fd, 1, 10);
    }
    return false;
}

// User plus system CPU time of a process, in seconds.
double cpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the command name, which is in parentheses and may hold spaces.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stol(field);
        } else if (i == 15) {
            stime = std::stol(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double peakResidentMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

pid_t start(const std::string& program) {
    const pid_t pid = fork();
    if (pid == 0) {
        // The program's output is not measured; a failed redirect leaves it on the terminal.
        (void)!std::freopen("/dev/null", "w", stdout);
        (void)!std::freopen("/dev/null", "w", stderr);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

struct Figures {
    std::string name;
    double startupMs = 0;
    double peakMiB = 0;
    double idleCpuMs = 0;
};

} // namespace

int main(int argc, char* argv[]) {
    int runs = 20;
    double idle = 10;
    std::vector<std::pair<std::string, std::string>> programs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--idle" && i + 1 < argc) {
            idle = std::atof(argv[++i]);
        } else if (const auto eq = arg.find('='); eq != std::string::npos) {
            programs.emplace_back(arg.substr(0, eq), arg.substr(eq + 1));
        } else {
            std::fprintf(stderr,
                         "usage: startup_bench [--runs N] [--idle SECONDS] NAME=PROGRAM...\n");
            return 2;
        }
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr || programs.empty()) {
        std::fprintf(stderr, "startup_bench: needs an X display and at least one NAME=PROGRAM\n");
        return 2;
    }
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, True);

    std::vector<Figures> results;
    for (const auto& [name, program] : programs) {
        Figures figures{name};
        std::vector<double> startups;
        for (int run = 0; run < runs; ++run) {
            XSync(display, True); // forget the events of the previous run
            const double began = now();
            const pid_t pid = start(program);
            if (!waitForMap(display, 30)) {
                std::fprintf(stderr, "startup_bench: %s mapped no window\n", program.c_str());
                stop(pid);
                return 1;
            }
            startups.push_back((now() - began) * 1e3);
            if (run == runs - 1) {
                sleepFor(1.0); // let the first paint and the start-up work settle
                const double before = cpuSeconds(pid);
                sleepFor(idle);
                figures.idleCpuMs = (cpuSeconds(pid) - before) * 1e3;
                figures.peakMiB = peakResidentMiB(pid);
            }
            stop(pid);
        }
        std::sort(startups.begin(), startups.end());
        figures.startupMs = startups[startups.size() / 2];
        results.push_back(figures);
    }
    XCloseDisplay(display);

    std::printf("|");
    for (const Figures& f : results) {
        std::printf(" | %s", f.name.c_str());
    }
    std::printf("%s|\n|---", results.size() == 2 ? " | ratio " : " ");
    for (std::size_t i = 0; i < results.size() + (results.size() == 2 ? 1 : 0); ++i) {
        std::printf("|---:");
    }
    std::printf("|\n");
    const auto row = [&](const char* label, double Figures::*value, const char* format) {
        std::printf("| %s", label);
        for (const Figures& f : results) {
            std::printf(" | ");
            std::printf(format, f.*value);
        }
        if (results.size() == 2) {
            const double base = results[1].*value;
            if (base > 0) {
                std::printf(" | %.2f", results[0].*value / base);
            } else {
                std::printf(" | –");
            }
        }
        std::printf(" |\n");
    };
    char startupLabel[64];
    std::snprintf(startupLabel, sizeof startupLabel, "start to window mapped, median of %d (ms)",
                  runs);
    row(startupLabel, &Figures::startupMs, "%.1f");
    row("peak resident memory (MiB)", &Figures::peakMiB, "%.1f");
    char idleLabel[64];
    std::snprintf(idleLabel, sizeof idleLabel, "CPU time while idle for %g s (ms)", idle);
    row(idleLabel, &Figures::idleCpuMs, "%.0f");
    return 0;
}
