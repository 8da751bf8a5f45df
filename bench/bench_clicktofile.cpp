// Click-to-file: the time from a click on "Capture Now" to the finished file, at 1920x1080 on
// a private Xvfb of that size, next to what the capture and the writer alone take, on a bare
// server and under compositing window managers (xfwm4, picom without and with fading). The
// main window stands over a full-screen window of photo-like content that must repaint when the
// main window goes, as another application's would; every capture is compared with that
// content, and one that differs anywhere counts as showing a trace of the window. Medians over
// interleaved rounds. Without arguments the program runs itself once per setup
// (--setup NAME), each on a server of its own. With VO_BENCH_WAYLAND=1 it runs once, natively
// on the Wayland compositor of WAYLAND_DISPLAY instead (bench_wayland starts a 1920x1080 sway);
// with VO_BENCH_WAYLAND=slow-neighbours, the main window tiled between slow windows there.
#include "BenchFigures.h"
#include "ClickBench.h"
#include "NullCaptureBackend.h"
#include "PhotoContent.h"

#include <BmpWriter.h>
#include <CaptureBackend.h>
#include <CaptureCommand.h>
#include <Dialogs.h>
#include <ErrorReporter.h>
#include <MainWindow.h>
#include <PlatformLoader.h>
#include <SettingsStore.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPaintEvent>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace {

using bench::Clock;
using bench::median;
using bench::ms;

// The setups: the window manager and compositor that run on the server, if any.
struct Setup
{
    const char *name;
    std::vector<std::string> command; // empty: a bare server
    bool needsBus;                    // runs on a private D-Bus session bus
    int settleAfterShowMs;            // until the shown window has finished fading in
};

const Setup setups[] = {
    {"bare", {}, false, 60},
    {"xfwm4", {"xfwm4", "--compositor=on"}, true, 100},
    {"picom", {"picom", "--backend", "xrender", "--config", "/dev/null"}, false, 100},
    {"picom-fading",
     {"picom", "--backend", "xrender", "--fading", "--fade-in-step", "0.03", "--fade-out-step",
      "0.03", "--config", "/dev/null"},
     false,
     450},
};

// A child process, its output to /dev/null unless a descriptor is given for fd 3; ended
// (SIGTERM, then waited for) by the destructor.
class Child
{
public:
    Child(std::vector<std::string> args, int fd3 = -1)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (fd3 >= 0)
            posix_spawn_file_actions_adddup2(&actions, fd3, 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = 0;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;
    bool isRunning() const { return m_pid > 0; }

private:
    pid_t m_pid = 0;
};

// Reads one line that a child writes to the pipe (its fd 3); empty after 20 s or on EOF.
std::string readLine(int fd)
{
    std::string line;
    char character = 0;
    const auto end = Clock::now() + std::chrono::seconds(20);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    while (Clock::now() < end) {
        const ssize_t n = read(fd, &character, 1);
        if (n == 1 && character == '\n')
            return line;
        if (n == 1)
            line += character;
        else if (n == 0)
            return {};
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return {};
}

// A private 1920x1080 Xvfb with Composite and DAMAGE; DISPLAY points at it while it lives.
// The pipe of -displayfd stays open while the server lives, or its last write would fail and
// end it.
class PrivateXvfb
{
public:
    PrivateXvfb()
        : m_pipe(makePipe())
        , m_server(args(m_pipe[1]), m_pipe[1])
    {
        close(m_pipe[1]);
        const std::string number = m_server.isRunning() ? readLine(m_pipe[0]) : std::string();
        if (!number.empty()) {
            m_display = ":" + number;
            setenv("DISPLAY", m_display.c_str(), 1);
        }
    }
    ~PrivateXvfb() { close(m_pipe[0]); }
    bool isRunning() const { return !m_display.empty(); }

private:
    static std::array<int, 2> makePipe()
    {
        std::array<int, 2> fds{-1, -1};
        if (pipe(fds.data()) != 0)
            fds = {-1, -1};
        return fds;
    }
    static std::vector<std::string> args(int)
    {
        return {"Xvfb",         "-displayfd", "3",     "-screen",  "0",
                "1920x1080x24", "-nolisten",  "tcp",   "-noreset", "+extension",
                "Composite",    "+extension", "DAMAGE"};
    }
    std::array<int, 2> m_pipe;
    Child m_server;
    std::string m_display;
};

// A private D-Bus session bus; DBUS_SESSION_BUS_ADDRESS points at it while it lives.
class PrivateBus
{
public:
    PrivateBus()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        m_daemon = std::make_unique<Child>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=3"},
            fds[1]);
        close(fds[1]);
        const std::string address = readLine(fds[0]);
        close(fds[0]);
        if (!address.empty())
            setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }

private:
    std::unique_ptr<Child> m_daemon;
};

// True once the selection of the compositing manager of screen 0 (and, when wanted, the
// window manager's check window) exist; gives up after 10 s.
bool waitForCompositor(bool windowManager)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const auto atom = [connection](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    bool ready = false;
    const auto end = Clock::now() + std::chrono::seconds(10);
    while (!ready && !xcb_connection_has_error(connection) && Clock::now() < end) {
        auto *owner = xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, atom("_NET_WM_CM_S0")), nullptr);
        ready = owner && owner->owner != XCB_NONE;
        std::free(owner);
        if (ready && windowManager) {
            auto *check = xcb_get_property_reply(connection,
                                                 xcb_get_property(connection, 0, root,
                                                                  atom("_NET_SUPPORTING_WM_CHECK"),
                                                                  XCB_ATOM_WINDOW, 0, 1),
                                                 nullptr);
            ready = check && xcb_get_property_value_length(check) == 4;
            std::free(check);
        }
        if (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    xcb_disconnect(connection);
    // The window manager sets up its own windows and reads its settings after that.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return ready;
}

// Marks a window as the desktop (_NET_WM_WINDOW_TYPE_DESKTOP): managed, kept below the others,
// without a frame, as a desktop program's window is.
void setDesktopType(xcb_window_t window)
{
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    const auto atom = [connection](const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    };
    const xcb_atom_t desktop = atom("_NET_WM_WINDOW_TYPE_DESKTOP");
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_WINDOW_TYPE"),
                        XCB_ATOM_ATOM, 32, 1, &desktop);
    std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    xcb_disconnect(connection);
}

using bench::PhotoWindow;
using bench::QuietDialogs;
using bench::settle;

// Pixels of the written picture that differ from the content under the window.
qint64 differingPixels(const QString &file, const QImage &expected)
{
    const QImage image = QImage(file).convertToFormat(QImage::Format_RGB32);
    if (image.size() != expected.size())
        return qint64(expected.width()) * expected.height();
    qint64 count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto *got = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        const auto *want = reinterpret_cast<const QRgb *>(expected.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += (got[x] & 0xffffff) != (want[x] & 0xffffff);
    }
    return count;
}

// True when the screen shows the content, not the main window, in the middle of the window's
// place.
bool isHidden(const imaging::Picture &picture, const QRect &window, const QImage &content)
{
    const QRect middle = QRect(window.center() - QPoint(20, 20), QSize(40, 40)) & content.rect();
    const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
    return image.copy(middle) == content.copy(middle);
}

// The slow neighbours' run on sway: two other programs' windows of one colour each, every paint
// of theirs taking 100 ms (programs slow to redraw after a resize), tiled beside the main window
// on a machine kept busy by two CPU-bound processes. sway keeps showing the old layout until
// they have redrawn. Each click comes as soon as the main window is back, often while sway still
// applies its return; each capture is compared with the two side by side, and one that differs
// anywhere counts as showing the window.
constexpr int NeighbourPaintMs = 100;
constexpr QRgb LeftColour = 0xffc03028;
constexpr QRgb RightColour = 0xff2850c0;

class SlowNeighbour : public QWidget
{
public:
    explicit SlowNeighbour(QRgb colour)
        : m_colour(colour)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(NeighbourPaintMs));
        QPainter(this).fillRect(rect(), QColor::fromRgb(m_colour));
    }

private:
    QRgb m_colour;
};

int neighbourMain(int argc, char *argv[], QRgb colour)
{
    QApplication application(argc, argv);
    SlowNeighbour window(colour);
    window.show();
    return QApplication::exec(); // until the bench ends it
}

// How many pixels of the bottom row show the left and the right neighbour's colour.
std::pair<int, int> neighbourWidths(const imaging::Picture &picture)
{
    const QImage image = picture.toImage().convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return {-1, -1};
    const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(image.height() - 1));
    return {int(std::count(row, row + image.width(), LeftColour)),
            int(std::count(row, row + image.width(), RightColour))};
}

// Processes events until the screen shows the neighbours that wide (or, with unlike, any other
// way); false after 30 s.
bool waitForNeighbours(platform::CaptureBackend &backend, std::pair<int, int> widths,
                       bool unlike = false)
{
    const auto end = Clock::now() + std::chrono::seconds(30);
    while ((neighbourWidths(backend.captureScreen()) == widths) == unlike) {
        if (Clock::now() > end)
            return false;
        settle(10);
    }
    return true;
}

int runSlowNeighbours(int argc, char *argv[])
{
    // sway floats a window of fixed size: a rule of its tiles the main window (by its app id).
    QProcess swaymsg;
    swaymsg.start("swaymsg", {"for_window", "[app_id=^vo-bench-tiled$]", "floating", "disable"});
    swaymsg.waitForFinished();
    const Child burners[] = {Child({"sha256sum", "/dev/zero"}), Child({"sha256sum", "/dev/zero"})};
    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("vo-bench-tiled"));
    const platform::Desktop desktop = platform::loadDesktop();
    platform::CaptureBackend *backend = desktop.capture.get();
    if (!backend) {
        std::fprintf(stderr, "bench_clicktofile: no capture backend\n");
        return 1;
    }
    // The left one first, alone over the whole screen, then the right one beside it.
    const std::string self = "/proc/self/exe";
    Child left({self, "--neighbour", "left"});
    if (!waitForNeighbours(*backend, {1920, 0})) {
        std::fprintf(stderr, "bench_clicktofile: the left neighbour did not show\n");
        return 1;
    }
    Child right({self, "--neighbour", "right"});
    const QImage content = [&] {
        QImage image(1920, 1080, QImage::Format_RGB32);
        image.fill(RightColour);
        for (int y = 0; y < image.height(); ++y)
            std::fill_n(reinterpret_cast<QRgb *>(image.scanLine(y)), image.width() / 2, LeftColour);
        return image;
    }();
    if (!waitForNeighbours(*backend, {content.width() / 2, content.width() / 2})) {
        std::fprintf(stderr, "bench_clicktofile: the neighbours did not show\n");
        return 1;
    }

    QTemporaryDir dir;
    const QString folder = dir.path() + "/out";
    QDir().mkpath(folder);
    QuietDialogs dialogs("bench_clicktofile");
    app::ErrorReporter reporter(dialogs);
    app::SettingsStore store(dir.path() + "/Vistarel Ombrix.conf");
    ui::MainWindow window(store);
    ui::CaptureCommand command(window, *backend, desktop.settler.get(), dialogs, reporter);
    QObject::connect(window.captureButton(), &QPushButton::clicked, &window,
                     [&command] { command.PushButton1_Click(); });
    window.setFolder(folder);
    window.setPrefix("bench");
    window.setNamingOption(ui::NamingMode::CountedPrefix, true);
    window.setFormatOption(imaging::ImageFormat::Bmp, true);
    window.show();

    Clock::time_point saved;
    reporter.setStatementProbe([&](const QString &, int number) {
        if (number == 176)
            saved = Clock::now();
    });
    std::vector<double> click;
    int shown = 0;
    const int clicks = qEnvironmentVariableIntValue("VO_BENCH_CLICKS") > 0
                           ? qEnvironmentVariableIntValue("VO_BENCH_CLICKS")
                           : 50;
    for (int round = 0; round < clicks; ++round) {
        // The main window is back: the click does not wait for the neighbours to redraw
        // beside it, so the hide often comes while sway still applies the show.
        if (!waitForNeighbours(*backend, {content.width() / 2, content.width() / 2}, true)) {
            std::fprintf(stderr, "bench_clicktofile: the window did not show again\n");
            return 1;
        }
        const auto clicked = Clock::now();
        window.captureButton()->click();
        click.push_back(ms(saved - clicked));
        const QString file = folder + "/bench1.bmp";
        const qint64 differing = differingPixels(file, content);
        if (differing) {
            ++shown;
            if (qEnvironmentVariableIsSet("VO_BENCH_VERBOSE"))
                std::fprintf(
                    stderr, "  slow neighbours: capture %d: %lld pixels differ (%s)\n", round + 1,
                    differing,
                    QFile::copy(file, QDir::temp().filePath(
                                          QString("slow-neighbours-%1.bmp").arg(round + 1)))
                        ? "kept in the temporary folder"
                        : "not kept");
        }
        QFile::remove(file);
    }
    std::printf("  tiled between slow neighbours (%d ms to redraw), 2 CPU-bound processes: "
                "click-to-file %5.1f ms, max %6.1f ms; %d of %d showed the window\n",
                NeighbourPaintMs, median(click), *std::max_element(click.begin(), click.end()),
                shown, clicks);
    if (dialogs.failures)
        std::printf("  %d error reports during the run\n", dialogs.failures);
    std::fflush(stdout);
    return dialogs.failures || shown ? 1 : 0;
}

int runSetup(const Setup &setup, int argc, char *argv[])
{
    const bool wayland = qEnvironmentVariableIntValue("VO_BENCH_WAYLAND") == 1;
    std::optional<PrivateXvfb> xvfb;
    if (!wayland) {
        xvfb.emplace();
        if (!xvfb->isRunning()) {
            std::fprintf(stderr, "bench_clicktofile: cannot start Xvfb\n");
            return 1;
        }
    }
    std::unique_ptr<PrivateBus> bus;
    if (setup.needsBus)
        bus = std::make_unique<PrivateBus>();
    // xfwm4 reads its settings (the fixture's) from a configuration folder of its own: with
    // none yet, it does not composite at its first start.
    QTemporaryDir managerConfig;
    std::vector<std::string> managerCommand = setup.command;
    if (!managerCommand.empty() && managerCommand.front() == "xfwm4") {
        const QString channels = managerConfig.path() + "/xfce4/xfconf/xfce-perchannel-xml";
        if (!QDir().mkpath(channels) ||
            !QFile::copy(QStringLiteral(VO_XFWM4_SETTINGS), channels + "/xfwm4.xml"))
            return 1;
        managerCommand.insert(managerCommand.begin(),
                              {"env", "XDG_CONFIG_HOME=" + managerConfig.path().toStdString()});
    }
    std::unique_ptr<Child> manager;
    if (!managerCommand.empty()) {
        manager = std::make_unique<Child>(managerCommand);
        if (!waitForCompositor(setup.needsBus)) {
            std::fprintf(stderr, "bench_clicktofile: %s did not start\n", setup.name);
            return 1;
        }
    }

    if (!wayland)
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/out";
    QDir().mkpath(folder);

    const QImage content = bench::photoContent(1920, 1080).convertToFormat(QImage::Format_RGB32);
    // Another application's full-screen window: the desktop (a window manager keeps it below
    // the others, without a frame). (xfwm4 takes a full-screen window that bypasses it for a
    // game's and shows it alone.)
    PhotoWindow photo(content, {});
    photo.setGeometry(0, 0, 1920, 1080);
    setDesktopType(static_cast<xcb_window_t>(photo.winId()));
    photo.show();
    settle(300);

    QuietDialogs dialogs("bench_clicktofile");
    app::ErrorReporter reporter(dialogs);
    app::SettingsStore store(dir.path() + "/Vistarel Ombrix.conf");
    ui::MainWindow window(store);
    const platform::Desktop desktop = platform::loadDesktop();
    platform::CaptureBackend *backend = desktop.capture.get();
    if (dynamic_cast<platform::NullCaptureBackend *>(backend)) {
        std::fprintf(stderr, "bench_clicktofile: no capture backend: %s\n",
                     qPrintable(backend->failureReason()));
        return 1;
    }
    ui::CaptureCommand command(window, *backend, desktop.settler.get(), dialogs, reporter);
    QObject::connect(window.captureButton(), &QPushButton::clicked, &window,
                     [&command] { command.PushButton1_Click(); });
    window.setFolder(folder);
    window.setPrefix("bench");
    window.setNamingOption(ui::NamingMode::CountedPrefix, true);
    window.setFormatOption(imaging::ImageFormat::Bmp, true);
    window.show();
    settle(500);

    // Statement 152 hides the window, 156 follows the wait for the screen, 176 follows the
    // save.
    Clock::time_point hiding, settled, saved;
    reporter.setStatementProbe([&](const QString &, int number) {
        const auto now = Clock::now();
        switch (number) {
        case 152:
            hiding = now;
            break;
        case 156:
            settled = now;
            break;
        case 176:
            saved = now;
            break;
        default:
            break;
        }
    });

    // BMP files, so that the comparison with the content is exact.
    std::vector<double> alone, click, hide;
    int traces = 0;
    int invisible = 0;
    const int clicks = qEnvironmentVariableIntValue("VO_BENCH_CLICKS") > 0
                           ? qEnvironmentVariableIntValue("VO_BENCH_CLICKS")
                           : 50;
    for (int round = -1; round < clicks; ++round) {
        const auto start = Clock::now();
        imaging::SaveBMP(backend->captureScreen(), dir.path() + "/alone.bmp");
        const auto aloneTime = Clock::now() - start;

        const auto clicked = Clock::now();
        window.captureButton()->click();
        const QString file = folder + "/bench1.bmp";
        if (round >= 0) {
            alone.push_back(ms(aloneTime));
            click.push_back(ms(saved - clicked));
            hide.push_back(ms(settled - hiding));
            const qint64 differing = differingPixels(file, content);
            if (differing) {
                ++traces;
                if (qEnvironmentVariableIsSet("VO_BENCH_VERBOSE"))
                    std::fprintf(stderr, "  %s: capture %d: %lld pixels differ (%.1f ms)\n",
                                 setup.name, round + 1, differing, ms(settled - hiding));
            }
        }
        // Both write new files: replacing an old one would add the cost of freeing it.
        QFile::remove(dir.path() + "/alone.bmp");
        QFile::remove(file);
        settle(setup.settleAfterShowMs); // the window is back in full before the next click
        if (round >= 0 && isHidden(backend->captureScreen(), window.frameGeometry(), content))
            ++invisible;
    }

    std::printf("  %-12s click-to-file %5.1f ms (capture+write alone %4.1f ms); hide until "
                "repainted %5.1f ms, max %6.1f ms; traces of the window %d/%d\n",
                setup.name, median(click), median(alone), median(hide),
                hide.empty() ? 0.0 : *std::max_element(hide.begin(), hide.end()), traces, clicks);
    if (dialogs.failures)
        std::printf("  %d error reports during the run\n", dialogs.failures);
    if (invisible)
        std::printf("  the window did not show again after %d of the clicks\n", invisible);
    std::fflush(stdout);
    return dialogs.failures || traces || invisible ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 3 && std::strcmp(argv[1], "--neighbour") == 0)
        return neighbourMain(argc, argv,
                             std::strcmp(argv[2], "left") == 0 ? LeftColour : RightColour);
    if (qEnvironmentVariable("VO_BENCH_WAYLAND") == QLatin1String("slow-neighbours"))
        return runSlowNeighbours(argc, argv);
    if (qEnvironmentVariableIntValue("VO_BENCH_WAYLAND") == 1) {
        std::printf("click-to-file at 1920x1080 on sway, Qt native on Wayland, BMP, medians of "
                    "the clicks; every file compared with the content under the window:\n");
        std::fflush(stdout);
        return runSetup({"sway", {}, false, 60}, argc, argv);
    }
    if (argc == 3 && std::strcmp(argv[1], "--setup") == 0) {
        for (const Setup &setup : setups)
            if (setup.name == std::string(argv[2]))
                return runSetup(setup, argc, argv);
        std::fprintf(stderr, "bench_clicktofile: no setup %s\n", argv[2]);
        return 2;
    }

    std::printf("click-to-file at 1920x1080, BMP, medians of %s clicks per setup; the main window "
                "over another application's full-screen window, every file compared with it:\n",
                qEnvironmentVariableIsSet("VO_BENCH_CLICKS") ? "VO_BENCH_CLICKS" : "50");
    std::fflush(stdout);
    int status = 0;
    for (const Setup &setup : setups) {
        if (argc > 1 && std::find(argv + 1, argv + argc, std::string(setup.name)) == argv + argc)
            continue;
        pid_t pid = 0;
        std::string self = "/proc/self/exe", option = "--setup", name = setup.name;
        char *args[] = {argv[0], option.data(), name.data(), nullptr};
        if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, args, environ) != 0) {
            status = 1;
            continue;
        }
        int result = 0;
        waitpid(pid, &result, 0);
        if (!WIFEXITED(result) || WEXITSTATUS(result) != 0)
            status = 1;
    }
    return status;
}
