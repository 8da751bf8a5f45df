#pragma once
// PortalCaptureBackend: captures the screen through the desktop portal
// (org.freedesktop.portal.Screenshot on the session bus), the route GNOME and KDE Plasma offer
// applications on Wayland. Each capture asks the portal for a non-interactive screenshot of the
// whole screen, waits for the Request's Response (subscribed to before the call), reads the PNG
// the portal wrote, and removes that file when it is one the call made (a name that appeared,
// or a file rewritten, after the call began), so that no picture of the screen is left behind
// in the user's folders or in /tmp. A refusal (code 1 or 2) or a portal that does not answer in
// time is final: further attempts of the same command are pointless and are not made.

#include "CaptureBackend.h"

#include <QSize>
#include <QString>

#include <chrono>

namespace platform {

class PortalCaptureBackend final : public CaptureBackend
{
public:
    struct Options
    {
        // How long to wait for the answer: the first call may wait for the user to allow
        // screenshots, or for the portal to start.
        std::chrono::milliseconds firstTimeout{30000};
        std::chrono::milliseconds timeout{10000};
    };

    PortalCaptureBackend()
        : PortalCaptureBackend(Options())
    {
    }
    explicit PortalCaptureBackend(Options options);

    // Whether the session bus offers the portal's Screenshot interface.
    static bool isAvailable();

    imaging::Picture captureScreen() override;
    void sync() override;
    QString failureReason() const override { return m_failureReason; }
    bool failureIsFinal() const override { return m_failureIsFinal; }

private:
    Options m_options;
    bool m_answeredOnce = false;
    unsigned m_requests = 0;
    QSize m_lastSize;
    QString m_failureReason;
    bool m_failureIsFinal = false;
};

} // namespace platform
