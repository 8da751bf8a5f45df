// Start to window and idle memory: the program started as a user starts it (settings of an
// earlier run in place, the pointer away from its window), next to a bare Qt window
// (BareWindow.cpp) in the same run, on the screen that run-bench provides. Start to window is the
// time from the spawn to the first drawing into a top-level window of the new process, as the
// X server's DAMAGE reports show it; idle memory is its resident size a second later. The two
// programs alternate, medians over the rounds. Last line: `startup window=<ours/bare>
// idle=+<ours - bare MB>`.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <xcb/damage.h>
#include <xcb/xcb.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The resident size of a process in MB, from /proc; negative when it cannot be read.
double residentMb(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() * 1024 / 1e6;
    }
    return -1;
}

// Watches the root window for new top-level windows and reports the first drawing into any of
// them.
class FirstFrameWatch
{
public:
    FirstFrameWatch()
        : m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_query_extension_reply_t *damage =
            xcb_get_extension_data(m_connection, &xcb_damage_id);
        if (!damage || !damage->present)
            return;
        m_damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
        std::free(xcb_damage_query_version_reply(
            m_connection, xcb_damage_query_version(m_connection, 1, 1), nullptr));
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        m_root = screen->root;
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        // The pointer in a corner, away from both windows: nothing hints at a capture.
        xcb_warp_pointer(m_connection, XCB_NONE, m_root, 0, 0, 0, 0,
                         static_cast<std::int16_t>(screen->width_in_pixels - 1),
                         static_cast<std::int16_t>(screen->height_in_pixels - 1));
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
        m_ready = true;
    }
    ~FirstFrameWatch() { xcb_disconnect(m_connection); }
    bool isReady() const { return m_ready && !xcb_connection_has_error(m_connection); }

    // Waits for the first drawing into a window created from now on; its time, or nothing
    // after the timeout.
    bool waitForFirstFrame(Clock::time_point *when, std::chrono::milliseconds timeout)
    {
        const auto end = Clock::now() + timeout;
        std::vector<xcb_damage_damage_t> damages;
        bool drawn = false;
        while (!drawn && Clock::now() < end) {
            xcb_generic_event_t *event = xcb_poll_for_event(m_connection);
            if (!event) {
                pollfd fd{xcb_get_file_descriptor(m_connection), POLLIN, 0};
                poll(&fd, 1, 5);
                continue;
            }
            const int type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                const auto *created = reinterpret_cast<xcb_create_notify_event_t *>(event);
                if (created->parent == m_root) {
                    const xcb_damage_damage_t damage = xcb_generate_id(m_connection);
                    xcb_damage_create(m_connection, damage, created->window,
                                      XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                    xcb_flush(m_connection);
                    damages.push_back(damage);
                }
            } else if (type == m_damageEvent) {
                *when = Clock::now();
                drawn = true;
            }
            std::free(event);
        }
        for (const xcb_damage_damage_t damage : damages)
            xcb_damage_destroy(m_connection, damage);
        xcb_flush(m_connection);
        return drawn;
    }

    // Reads and drops every event that has arrived (damage of windows already measured).
    void drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root = 0;
    int m_damageEvent = -1;
    bool m_ready = false;
};

struct Sample
{
    double startMs = -1;
    double idleMb = -1;
};

Sample startOnce(FirstFrameWatch &watch, const char *program, char **environment)
{
    watch.drain();
    Sample sample;
    pid_t pid = 0;
    char *argv[] = {const_cast<char *>(program), nullptr};
    const auto start = Clock::now();
    if (posix_spawn(&pid, program, nullptr, nullptr, argv, environment) != 0)
        return sample;
    Clock::time_point drawn;
    if (watch.waitForFirstFrame(&drawn, std::chrono::seconds(20))) {
        sample.startMs = std::chrono::duration<double, std::milli>(drawn - start).count();
        // Idle: whatever start-up left running has finished by now.
        usleep(1000 * 1000);
        sample.idleMb = residentMb(pid);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return sample;
}

} // namespace

// A session bus of the run's own, as a desktop session has one: without it, every Qt program
// would start dbus-launch to look for one.
class SessionBus
{
public:
    SessionBus()
    {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {"--session", "--fork", "--print-address=1", "--print-pid=1"});
        if (!daemon.waitForFinished(10000))
            return;
        const QList<QByteArray> lines = daemon.readAllStandardOutput().trimmed().split('\n');
        if (lines.size() == 2) {
            m_address = lines[0].trimmed();
            m_pid = lines[1].trimmed().toInt();
        }
    }
    ~SessionBus()
    {
        if (m_pid > 0)
            kill(m_pid, SIGTERM);
    }
    QByteArray address() const { return m_address; }

private:
    QByteArray m_address;
    pid_t m_pid = 0;
};

int main()
{
    FirstFrameWatch watch;
    SessionBus bus;
    QTemporaryDir home;
    if (!watch.isReady() || !home.isValid() || bus.address().isEmpty()) {
        std::fprintf(stderr, "bench_startup: no X server with DAMAGE, no session bus or no "
                             "temporary folder\n");
        return 1;
    }
    // The settings of an earlier run, exactly as the program writes them: its restores at start
    // find every value stored already.
    const QString shots = home.path() + "/shots";
    QDir().mkpath(shots);
    QDir().mkpath(home.path() + "/config/Kestrelby");
    QFile settings(home.path() + "/config/Kestrelby/Vistarel Ombrix.conf");
    if (!settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write("[General]\nOption1=True\nOption2=False\nOption3=False\nOption4=True\n"
                   "Option5=False\nText1=" +
                   shots.toUtf8() + "\nText2=Screenshots\n");
    settings.close();

    std::vector<std::string> variables;
    for (char **variable = environ; *variable; ++variable) {
        const std::string text = *variable;
        if (text.rfind("HOME=", 0) != 0 && text.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
            text.rfind("DBUS_SESSION_BUS_ADDRESS=", 0) != 0)
            variables.push_back(text);
    }
    variables.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus.address().toStdString());
    variables.push_back("HOME=" + home.path().toStdString());
    variables.push_back("XDG_CONFIG_HOME=" + home.path().toStdString() + "/config");
    std::vector<char *> environment;
    for (std::string &variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);

    const int rounds = qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS") > 0
                           ? qEnvironmentVariableIntValue("VO_BENCH_REPETITIONS")
                           : 15;
    std::vector<double> oursStart, oursIdle, bareStart, bareIdle;
    for (int round = -1; round < rounds; ++round) {
        const Sample ours = startOnce(watch, VO_PROGRAM, environment.data());
        const Sample bare = startOnce(watch, VO_BARE_WINDOW, environment.data());
        if (ours.startMs < 0 || bare.startMs < 0 || ours.idleMb < 0 || bare.idleMb < 0) {
            std::fprintf(stderr, "bench_startup: a window did not appear\n");
            return 1;
        }
        if (round < 0)
            continue; // warm-up: the files are in the page cache from now on
        oursStart.push_back(ours.startMs);
        oursIdle.push_back(ours.idleMb);
        bareStart.push_back(bare.startMs);
        bareIdle.push_back(bare.idleMb);
    }
    std::printf("start-up (medians of %d alternating rounds; from the spawn to the first drawing "
                "into the window, resident memory 1 s later):\n",
                rounds);
    std::printf("  vistarel-ombrix   start to window %6.1f ms, idle %5.1f MB\n", median(oursStart),
                median(oursIdle));
    std::printf("  bare Qt window    start to window %6.1f ms, idle %5.1f MB\n", median(bareStart),
                median(bareIdle));
    std::printf("startup window=%.2f idle=%+.1fMB\n", median(oursStart) / median(bareStart),
                median(oursIdle) - median(bareIdle));
    std::fflush(stdout);
    return 0;
}
