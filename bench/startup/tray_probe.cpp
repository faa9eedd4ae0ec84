// Launches a tray program and watches it from outside: the time from exec to its tray icon
// being docked by the tray host (its window, found by _NET_WM_PID, reparented away from the
// root window), its resident memory once settled, and optionally its wake-ups (voluntary
// context switches) and CPU time over an idle period. Ends it with SIGTERM.
//
// Usage: bench_tray_probe [--settle-ms N] [--idle-s N] -- program [args...]
// Prints one line:
//   startup_ms=... cpu_to_dock_ms=... rss_kib=... [idle_s=... wakeups=... (main thread)
//   wakeups_all_threads=... involuntary=... cpu_ms=...]
//
// cpu_to_dock_ms, the time the program's threads spent on a CPU up to the dock, varies far less
// with the machine's load than the wall-clock figure.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto cookie = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

// Whether a window of this process sits below another client's window.
bool docked(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t pidAtom,
            pid_t pid) {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr);
    if (!tree)
        return false;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    const int count = xcb_query_tree_children_length(tree);
    bool found = false;
    for (int i = 0; i < count && !found; ++i) {
        if (window != root) {
            auto cookie = xcb_get_property(c, 0, children[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1);
            xcb_get_property_reply_t* prop = xcb_get_property_reply(c, cookie, nullptr);
            if (prop && xcb_get_property_value_length(prop) == 4 &&
                *static_cast<uint32_t*>(xcb_get_property_value(prop)) == static_cast<uint32_t>(pid))
                found = true;
            std::free(prop);
        }
        if (!found)
            found = docked(c, root, children[i], pidAtom, pid);
    }
    std::free(tree);
    return found;
}

long statusField(const std::string& proc, const char* field) {
    std::ifstream status(proc + "/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    }
    return -1;
}

long statusField(pid_t pid, const char* field) {
    return statusField("/proc/" + std::to_string(pid), field);
}

// Voluntary context switches of every thread so far: each is a wake-up of the process.
long allThreadsWakeups(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    long count = 0;
    while (const dirent* entry = dir ? readdir(dir) : nullptr)
        if (entry->d_name[0] != '.')
            count += statusField(tasks + "/" + entry->d_name, "voluntary_ctxt_switches");
    if (dir)
        closedir(dir);
    return count;
}

// Time on a CPU so far, all threads, in milliseconds (the scheduler's own nanosecond count).
double onCpuMs(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    double ns = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
        double taskNs = 0;
        if (schedstat >> taskNs)
            ns += taskNs;
    }
    closedir(dir);
    return ns / 1e6;
}

// utime + stime in milliseconds.
long cpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    // Fields after the command name start at field 3; utime and stime are 14 and 15.
    const char* p = text.c_str() + close + 2;
    for (int field = 3; field < 14; ++field)
        p = std::strchr(p, ' ') + 1;
    char* end = nullptr;
    const long utime = std::strtol(p, &end, 10);
    const long stime = std::strtol(end + 1, nullptr, 10);
    return (utime + stime) * 1000 / sysconf(_SC_CLK_TCK);
}

} // namespace

int main(int argc, char* argv[]) {
    long settleMs = 2000;
    long idleS = 0;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--settle-ms") == 0 && i + 1 < argc)
            settleMs = std::atol(argv[++i]);
        else if (std::strcmp(argv[i], "--idle-s") == 0 && i + 1 < argc)
            idleS = std::atol(argv[++i]);
    }
    if (i + 1 >= argc) {
        std::fputs("usage: bench_tray_probe [--settle-ms N] [--idle-s N] -- program [args...]\n",
                   stderr);
        return 2;
    }
    char** command = argv + i + 1;

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        std::fputs("bench_tray_probe: no X display\n", stderr);
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_atom_t pidAtom = atom(c, "_NET_WM_PID");

    const Clock::time_point launched = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execvp(command[0], command);
        _exit(127);
    }
    double startupMs = -1;
    double cpuToDockMs = -1;
    while (Clock::now() - launched < std::chrono::seconds(60)) {
        if (docked(c, root, root, pidAtom, pid)) {
            startupMs = std::chrono::duration<double, std::milli>(Clock::now() - launched).count();
            cpuToDockMs = onCpuMs(pid);
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            std::fputs("bench_tray_probe: the program ended before docking\n", stderr);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    xcb_disconnect(c);

    std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
    std::printf("startup_ms=%.1f cpu_to_dock_ms=%.2f rss_kib=%ld", startupMs, cpuToDockMs,
                statusField(pid, "VmRSS"));
    if (idleS > 0) {
        const long switches = statusField(pid, "voluntary_ctxt_switches");
        const long involuntary = statusField(pid, "nonvoluntary_ctxt_switches");
        const long all = allThreadsWakeups(pid);
        const long cpu = cpuMs(pid);
        std::this_thread::sleep_for(std::chrono::seconds(idleS));
        // Threads that ended in between are not counted; the idle app starts none.
        std::printf(" idle_s=%ld wakeups=%ld wakeups_all_threads=%ld involuntary=%ld cpu_ms=%ld",
                    idleS, statusField(pid, "voluntary_ctxt_switches") - switches,
                    allThreadsWakeups(pid) - all,
                    statusField(pid, "nonvoluntary_ctxt_switches") - involuntary, cpuMs(pid) - cpu);
    }
    std::printf("\n");
    std::fflush(stdout);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    return startupMs < 0 ? 1 : 0;
}
