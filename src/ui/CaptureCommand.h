#pragma once
// PushButton1_Click, the "Capture Now" command of the main window (or of the saved choices, for a
// capture from the command line): checks the folder, settles the file name by the chosen naming
// mode, steps the window aside until the screen no longer shows it, captures the primary screen
// into picSS, writes it as JPEG (through Creator, at the chosen quality) or in the other chosen
// format, and brings the window back. Written as numbered statements inside the trap of app::Trap:
// a failure is reported with its statement number and the command goes on, so the window always
// comes back and Capturing is always cleared. When the attempts yield no picture (as they never
// do through the null backend of a session without a capture route), nothing is written and,
// once the window is back, a message says why (the backend's reason, if any). A JPEG is encoded
// into a temporary file while the wait after the capture (statement 164) runs, and put in place at
// statement 172, where its failure is reported too.
//
// The command holds references to the client (the window), the capture backend, the dialogs and
// the reporter, and a non-owning pointer to the screen settler (null: no wait after the hide);
// all must outlive it. Connect the window's captureButton()
// to PushButton1_Click().

#include "Picture.h"

#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>

namespace app {
class Dialogs;
class ErrorReporter;
} // namespace app

namespace imaging {
class BackgroundJpeg;
}

namespace platform {
class CaptureBackend;
class ScreenSettler;
} // namespace platform

namespace ui {

class CaptureClient;

class CaptureCommand
{
public:
    static constexpr auto FolderMissingText =
        "Folder does not exist. Please select another folder.";
    static constexpr auto PromptCaption = "Input Filename";
    static constexpr auto PromptMessage = "Enter Filename: ";
    // %1: why, e.g. the reason no capture route fits the session.
    static constexpr auto NoCaptureText = "Cannot capture the screen: %1.";
    static constexpr auto NoPictureReason = "the desktop gave no picture";

    CaptureCommand(CaptureClient &client, platform::CaptureBackend &backend,
                   platform::ScreenSettler *settler, app::Dialogs &dialogs,
                   app::ErrorReporter &reporter);
    ~CaptureCommand();
    CaptureCommand(const CaptureCommand &) = delete;
    CaptureCommand &operator=(const CaptureCommand &) = delete;

    // The command. A click while a command is running returns at once.
    void PushButton1_Click();

    // The Capturing flag: true from the start of a command to its end.
    bool capturing() const { return m_capturing; }

    // The file the last command wrote; empty when it wrote none (nothing captured, a failure,
    // or no name).
    QString writtenPath() const { return m_writtenPath; }

    // The clock of the date-time names (default: the local time now).
    using Clock = std::function<QDateTime()>;
    void setClock(Clock clock);

    // True when path names an existing folder (symbolic links followed); false for anything
    // else, including any failure to read it. Never throws.
    static bool FolderExists(const QString &path);

private:
    // Starts encoding the JPEG of a new capture while statement 164 waits (statement 172
    // commits it). Reads the format and quality only; never throws.
    void encodeAhead(const QString &baseName) noexcept;

    CaptureClient &m_client;
    platform::CaptureBackend &m_backend;
    platform::ScreenSettler *m_settler;
    app::Dialogs &m_dialogs;
    app::ErrorReporter &m_reporter;
    Clock m_clock;
    bool m_capturing = false;
    QString m_writtenPath;
    // The two picture holders: picSS receives each capture, Creator shares it for a JPEG save.
    // Both hold it until the command ends. m_earlyJpeg: the JPEG being encoded during the wait.
    imaging::Picture m_picSS;
    imaging::Picture m_creator;
    std::unique_ptr<imaging::BackgroundJpeg> m_earlyJpeg;
};

} // namespace ui
