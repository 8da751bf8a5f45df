#pragma once
// KWinCaptureBackend: captures the screen through KWin's own screenshot interface
// (org.kde.KWin.ScreenShot2 on the session bus), which writes the raw pixels into a pipe: no
// PNG to encode, write, read and decode as through the desktop portal, about a third of the
// portal's time on KDE Plasma. KWin answers with the picture's size and then writes the pixels;
// the picture is handed on at the answer (PipedPixels), so that its file is encoded while KWin
// still writes the rows below. KWin serves it only to programs whose installed desktop entry
// names this program's path in Exec and lists the interface in
// X-KDE-DBUS-Restricted-Interfaces. When KWin refuses this program, every capture from then on
// goes to the fallback (the desktop portal), if there is one.

#include "CaptureBackend.h"

#include <QSize>
#include <QString>

#include <memory>

namespace platform {

class KWinCaptureBackend final : public CaptureBackend
{
public:
    // fallback: takes over once KWin refuses this program; may be null.
    explicit KWinCaptureBackend(std::unique_ptr<CaptureBackend> fallback);

    // Whether KWin's screenshot interface is on the session bus (asks the bus, not KWin).
    static bool isAvailable();

    imaging::Picture captureScreen() override;
    void sync() override;
    QString failureReason() const override;
    bool failureIsFinal() const override;
    void endCapture() override;

private:
    imaging::Picture capture(const QString &screen);
    imaging::Picture fail(const QString &reason, bool final);

    std::unique_ptr<CaptureBackend> m_fallback;
    bool m_refused = false;
    QSize m_lastSize;
    QString m_failureReason;
    bool m_failureIsFinal = false;
};

} // namespace platform
