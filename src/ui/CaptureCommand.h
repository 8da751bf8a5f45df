#pragma once
// PushButton1_Click, the "Capture Now" command of the main window: checks the folder in Text1,
// settles the file name by the chosen naming mode, hides the window until the screen no longer
// shows it, captures the primary screen into picSS, writes it as JPEG (through Creator, at the
// quality of Slider1) or BMP, and shows the window again. Written as numbered statements inside
// the trap of app::Trap: a failure is reported with its statement number and the command goes
// on, so the window always comes back and Capturing is always cleared.
//
// The command holds references to the window, the dialogs and the reporter, and a non-owning
// pointer to the capture backend (null: no picture is ever captured); all must outlive it.
// Connect PushButton1()->clicked to PushButton1_Click().

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

namespace app {
class Dialogs;
class ErrorReporter;
} // namespace app

namespace imaging {
class CaptureBackend;
}

namespace ui {

class MainWindow;
class ScreenSettler;

class CaptureCommand
{
public:
    static constexpr auto Location = "in Orrindale2021/08/31.Form1.PushButton1_Click ";
    static constexpr auto FolderMissingText = "Folder does not exist. Please select another folder.";
    static constexpr auto PromptCaption = "Input Filename";
    static constexpr auto PromptMessage = "Enter Filename: ";

    CaptureCommand(MainWindow &window, imaging::CaptureBackend *backend, app::Dialogs &dialogs,
                   app::ErrorReporter &reporter);
    ~CaptureCommand();
    CaptureCommand(const CaptureCommand &) = delete;
    CaptureCommand &operator=(const CaptureCommand &) = delete;

    // The command. A click while a command is running returns at once.
    void PushButton1_Click();

    // The Capturing flag: true from the start of a command to its end.
    bool capturing() const { return m_capturing; }

    // The clock of the date-time names (default: the local time now).
    using Clock = std::function<QDateTime()>;
    void setClock(Clock clock);

    // What makes sure the hidden window has left the screen before the capture (default:
    // makeScreenSettler()).
    void setScreenSettler(std::unique_ptr<ScreenSettler> settler);

    // True when path names an existing folder (symbolic links followed); false for anything
    // else, including any failure to read it. Never throws.
    static bool FolderExists(const QString &path);

    // Returns after the given time, processing window events meanwhile without keeping a
    // processor core busy.
    static void WaitSeconds(double seconds);

private:
    MainWindow &m_window;
    imaging::CaptureBackend *m_backend;
    app::Dialogs &m_dialogs;
    app::ErrorReporter &m_reporter;
    std::unique_ptr<ScreenSettler> m_settler;
    Clock m_clock;
    bool m_capturing = false;
};

} // namespace ui
