#include "CaptureCommand.h"

#include "BmpWriter.h"
#include "CaptureBackend.h"
#include "Dialogs.h"
#include "ErrorReporter.h"
#include "FileNaming.h"
#include "JpegWriter.h"
#include "MainWindow.h"
#include "ScreenSettler.h"
#include "Trap.h"
#include "core/Error.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <cmath>
#include <cstdint>
#include <limits>

namespace ui {

namespace {

using app::Trap;

std::int32_t incremented(std::int32_t counter)
{
    if (counter == std::numeric_limits<std::int32_t>::max())
        throw core::Error(core::Error::Overflow, QStringLiteral("Overflow"));
    return counter + 1;
}

std::uint8_t toByte(int value)
{
    if (value < 0 || value > std::numeric_limits<std::uint8_t>::max())
        throw core::Error(core::Error::Overflow, QStringLiteral("Overflow"));
    return static_cast<std::uint8_t>(value);
}

} // namespace

CaptureCommand::CaptureCommand(MainWindow &window, imaging::CaptureBackend *backend,
                               app::Dialogs &dialogs, app::ErrorReporter &reporter)
    : m_window(window), m_backend(backend), m_dialogs(dialogs), m_reporter(reporter),
      m_settler(makeScreenSettler()), m_clock([] { return QDateTime::currentDateTime(); })
{
}

CaptureCommand::~CaptureCommand() = default;

void CaptureCommand::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

void CaptureCommand::setScreenSettler(std::unique_ptr<ScreenSettler> settler)
{
    m_settler = std::move(settler);
}

bool CaptureCommand::FolderExists(const QString &path)
{
    try {
        return !path.isEmpty() && QFileInfo(path).isDir();
    } catch (...) {
        return false;
    }
}

void CaptureCommand::WaitSeconds(double seconds)
{
    if (!(seconds > 0))
        return;
    const auto milliseconds = static_cast<qint64>(std::ceil(std::min(seconds, 86400.0) * 1000));
    QDeadlineTimer deadline(milliseconds, Qt::PreciseTimer);
    // A nested event loop sleeps until an event or the timer arrives: events are processed
    // as they come, and no core is kept busy.
    while (!deadline.hasExpired()) {
        QEventLoop loop;
        QTimer timer;
        timer.setSingleShot(true);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
        timer.start(std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 0)));
        loop.exec();
    }
}

void CaptureCommand::PushButton1_Click()
{
    MainWindow &w = m_window;
    const auto folder = [&w] { return w.Text1()->text(); };
    const auto prefix = [&w] { return w.Text2()->text(); };
    const auto separator = QStringLiteral("/");

    QString BaseName;
    std::int32_t counter = 0;
    QString candidate;
    QPointer<QWidget> focused;

    // Statements 130 to 144 each blank out one character of the typed name.
    const QString pathCharacters = QStringLiteral("/\\*:?<>|");
    const auto blankOut = [&BaseName](QChar character) {
        return [&BaseName, character] {
            BaseName.replace(character, QLatin1Char(' '));
            return Trap::Next;
        };
    };

    app::Trap trap(m_reporter, QLatin1String(Location));
    trap.run({
        {100, [&] { return m_capturing ? Trap::Return : Trap::Next; }},
        {102, [&] { m_capturing = true; return Trap::Next; }},
        {104, [&] { return FolderExists(folder()) ? 106 : 180; }},
        {106, [&] { return w.Option1()->isChecked() ? 108 : 110; }},
        // A date-time name never replaces an earlier capture of the same second.
        {108, [&] {
             const QString extension = w.Option4()->isChecked() ? QStringLiteral(".jpg")
                                                                : QStringLiteral(".bmp");
             BaseName = UnusedBaseName(folder() + separator + DateTimeText(m_clock(), QLocale::system()),
                                       extension);
             return 148;
         }, 148},
        {110, [&] { return w.Option2()->isChecked() ? 112 : 126; }},
        {112, [&] { counter = 1; return Trap::Next; }},
        {114, [&] { return w.Option4()->isChecked() ? 116 : 118; }},
        {116, [&] {
             candidate = folder() + separator + prefix() + QString::number(counter) + QStringLiteral(".jpg");
             return 120;
         }, 120},
        {118, [&] {
             candidate = folder() + separator + prefix() + QString::number(counter) + QStringLiteral(".bmp");
             return Trap::Next;
         }},
        {120, [&] { counter = incremented(counter); return Trap::Next; }},
        {122, [&] { return NormalFileExists(candidate) ? 114 : Trap::Next; }},
        {124, [&] {
             BaseName = folder() + separator + prefix() + QString::number(counter - 1);
             return 148;
         }, 148},
        {126, [&] { return w.Option3()->isChecked() ? 128 : 148; }},
        {128, [&] {
             BaseName = m_dialogs.askText(QLatin1String(PromptCaption), QLatin1String(PromptMessage))
                            .value_or(QString());
             return Trap::Next;
         }},
        {130, blankOut(pathCharacters[0])},
        {132, blankOut(pathCharacters[1])},
        {134, blankOut(pathCharacters[2])},
        {136, blankOut(pathCharacters[3])},
        {138, blankOut(pathCharacters[4])},
        {140, blankOut(pathCharacters[5])},
        {142, blankOut(pathCharacters[6])},
        {144, blankOut(pathCharacters[7])},
        // Cancel, or a name of blanks only, ends the command with nothing captured.
        {146, [&] {
             BaseName = BaseName.trimmed().isEmpty() ? QString() : folder() + separator + BaseName;
             return Trap::Next;
         }},
        {148, [&] { return BaseName.isEmpty() ? 182 : Trap::Next; }},
        {150, [&] { w.setMousePointer(MainWindow::PointerHourglass); return Trap::Next; }},
        {152, [&] {
             if (m_settler)
                 m_settler->prepare(w);
             focused = w.focusWidget();
             w.hide();
             return Trap::Next;
         }},
        // Pending events, then wait until the screen no longer shows the window.
        {154, [&] {
             QCoreApplication::processEvents();
             if (m_backend)
                 m_backend->sync();
             if (m_settler && !w.isVisible())
                 m_settler->waitUntilRepainted();
             return Trap::Next;
         }},
        // The previous command's picture goes first: a failed capture can never save it again,
        // and its memory is free before the new capture needs as much.
        {156, [&] {
             counter = 0;
             w.picSS()->setPicture({});
             w.Creator()->setPicture({});
             return Trap::Next;
         }},
        {158, [&] { return w.picSS()->picture().isNull() && counter < 10 ? 160 : 166; }},
        {160, [&] {
             w.picSS()->setPicture({});
             w.picSS()->setPicture(m_backend ? m_backend->captureScreen() : imaging::Picture());
             return Trap::Next;
         }},
        {162, [&] { counter = incremented(counter); return Trap::Next; }},
        {164, [&] { WaitSeconds(0.01); return 158; }, 158},
        {166, [&] { return w.picSS()->picture().isNull() ? 176 : Trap::Next; }},
        {168, [&] { return w.Option4()->isChecked() ? Trap::Next : 174; }},
        {170, [&] { w.Creator()->setPicture(w.picSS()->picture()); return Trap::Next; }},
        {172, [&] {
             imaging::SaveJPG(w.Creator()->picture(), BaseName + QStringLiteral(".jpg"),
                              toByte(w.Slider1()->value()));
             return 176;
         }, 176},
        {174, [&] { imaging::SaveBMP(w.picSS()->picture(), BaseName + QStringLiteral(".bmp")); return Trap::Next; }},
        {176, [&] {
             w.show();
             w.raise();
             w.activateWindow();
             // Hidden and shown again faster than the toolkit notices a focus change, the window
             // keeps the input focus but loses its active state: restore both.
             if (QGuiApplication::focusWindow() == w.windowHandle() && !w.isActiveWindow())
                 QApplication::setActiveWindow(&w);
             if (focused)
                 focused->setFocus(Qt::ActiveWindowFocusReason);
             return Trap::Next;
         }},
        {178, [&] { w.setMousePointer(MainWindow::PointerDefault); return 182; }, 182},
        {180, [&] {
             m_dialogs.showMessage(QGuiApplication::applicationDisplayName(),
                                   QLatin1String(FolderMissingText), app::Dialogs::Icon::None);
             return Trap::Next;
         }},
        {182, [&] { m_capturing = false; return Trap::Return; }},
    });
}

} // namespace ui
