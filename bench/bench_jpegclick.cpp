// Click-to-file with JPEG: the time from a click on "Capture Now" to the finished file, at
// 1920x1080 on a private Xvfb of that size without window manager, next to what the capture and
// the JPEG writer alone take, and where the click lands between hide + max(wait, capture+write)
// (the JPEG encoded during the 0.01 s wait after the capture) and hide + wait + capture+write
// (encoded after it). The main window stands over a full-screen window of photo-like content
// that must repaint when the main window goes. Medians over interleaved rounds. Last line:
// `jpegclick click/(hide + max(wait, capture+write))=<ratio>`.
#include "BenchFigures.h"
#include "ClickBench.h"
#include "NullCaptureBackend.h"
#include "PhotoContent.h"

#include <CaptureBackend.h>
#include <CaptureCommand.h>
#include <Dialogs.h>
#include <ErrorReporter.h>
#include <JpegWriter.h>
#include <MainWindow.h>
#include <PlatformLoader.h>
#include <SettingsStore.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using bench::Clock;
using bench::median;
using bench::ms;

// A private 1920x1080 Xvfb for the run; DISPLAY points at it while it lives.
class PrivateXvfb
{
public:
    PrivateXvfb()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> args = {"Xvfb",         "-displayfd", "3",   "-screen", "0",
                                         "1920x1080x24", "-nolisten",  "tcp", "-noreset"};
        std::vector<char *> argv;
        for (std::string &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, argv.data(), environ) != 0)
            m_pid = 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        // The number comes in pieces; the pipe stays open while the server lives, or its
        // last write would fail and end it.
        m_pipe = fds[0];
        std::string number;
        char character = 0;
        while (m_pid && read(m_pipe, &character, 1) == 1 && character != '\n')
            number += character;
        if (!number.empty() && character == '\n') {
            m_display = ":" + number;
            setenv("DISPLAY", m_display.c_str(), 1);
        }
    }
    ~PrivateXvfb()
    {
        close(m_pipe);
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    bool isRunning() const { return !m_display.empty(); }

private:
    pid_t m_pid = 0;
    int m_pipe = -1;
    std::string m_display;
};

using bench::PhotoWindow;
using bench::QuietDialogs;
using bench::settle;

} // namespace

int main(int argc, char *argv[])
{
    PrivateXvfb xvfb;
    if (!xvfb.isRunning()) {
        std::fprintf(stderr, "bench_jpegclick: cannot start Xvfb\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    QTemporaryDir dir;
    const QString folder = dir.path() + "/out";
    QDir().mkpath(folder);

    PhotoWindow photo(bench::photoContent(1920, 1080), Qt::X11BypassWindowManagerHint);
    photo.setGeometry(0, 0, 1920, 1080);
    photo.show();
    settle(300);

    QuietDialogs dialogs("bench_jpegclick");
    app::ErrorReporter reporter(dialogs);
    app::SettingsStore store(dir.path() + "/Vistarel Ombrix.conf");
    ui::MainWindow window(store);
    const platform::Desktop desktop = platform::loadDesktop();
    platform::CaptureBackend *backend = desktop.capture.get();
    if (dynamic_cast<platform::NullCaptureBackend *>(backend)) {
        std::fprintf(stderr, "bench_jpegclick: no capture backend: %s\n",
                     qPrintable(backend->failureReason()));
        return 1;
    }
    ui::CaptureCommand command(window, *backend, desktop.settler.get(), dialogs, reporter);
    QObject::connect(window.captureButton(), &QPushButton::clicked, &window,
                     [&command] { command.PushButton1_Click(); });
    window.setFolder(folder);
    window.setPrefix("bench");
    window.setNamingOption(ui::NamingMode::CountedPrefix, true);
    window.show();
    settle(300);

    // Statement 152 hides the window, 156 follows the wait for the screen, 164 waits after a
    // capture attempt, 166 follows that wait, 176 follows the save.
    Clock::time_point hiding, settled, waiting, waited, saved;
    reporter.setStatementProbe([&](const QString &, int number) {
        const auto now = Clock::now();
        switch (number) {
        case 152:
            hiding = now;
            break;
        case 156:
            settled = now;
            break;
        case 164:
            waiting = now;
            break;
        case 166:
            waited = now;
            break;
        case 176:
            saved = now;
            break;
        default:
            break;
        }
    });

    window.setFormatOption(imaging::ImageFormat::Jpeg, true);
    std::vector<double> aloneTimes, clickTimes, hideTimes, waitTimes;
    const int rounds = 15;
    for (int round = -1; round < rounds; ++round) {
        const auto start = Clock::now();
        {
            // Released before the click, as the program holds one capture at a time.
            const imaging::Picture picture = backend->captureScreen();
            imaging::SaveJPG(picture, dir.path() + "/alone.jpg", 85);
        }
        const auto alone = Clock::now() - start;

        const auto clicked = Clock::now();
        window.captureButton()->click();
        if (round >= 0) {
            aloneTimes.push_back(ms(alone));
            clickTimes.push_back(ms(saved - clicked));
            hideTimes.push_back(ms(settled - hiding));
            waitTimes.push_back(ms(waited - waiting));
        }
        // Both write new files: replacing an old one would add the cost of freeing it.
        QFile::remove(dir.path() + "/alone.jpg");
        for (const QString &name : QDir(folder).entryList(QDir::Files))
            QFile::remove(folder + '/' + name);
        settle(60); // the window repaints before the next click
    }

    const double alone = median(aloneTimes), click = median(clickTimes);
    const double hide = median(hideTimes), wait = median(waitTimes);
    std::printf("click-to-file at 1920x1080, JPEG q85 (medians of %d rounds; main window over "
                "another application's full-screen window, no window manager):\n"
                "  capture+write alone %5.1f ms, hide until repainted %4.1f ms, the 0.01 s wait "
                "after the capture %4.1f ms\n"
                "  click-to-file %5.1f ms; hide + max(wait, capture+write) %5.1f ms, hide + wait "
                "+ capture+write %5.1f ms\n",
                rounds, alone, hide, wait, click, hide + std::max(wait, alone),
                hide + wait + alone);
    std::printf("jpegclick click/(hide + max(wait, capture+write))=%.2f\n",
                click / (hide + std::max(wait, alone)));
    if (dialogs.failures)
        std::printf("  %d error reports during the run\n", dialogs.failures);
    std::fflush(stdout);
    return dialogs.failures ? 1 : 0;
}
