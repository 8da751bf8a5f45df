#pragma once
// ExtImageCopyCapture: frames of one output through ext-image-copy-capture-v1, with the output as
// the source (ext-output-image-capture-source-v1): the route wherever the compositor offers it.
// A capture session's first frame is the output as it is; each later frame of the same session
// waits until the output has changed since the previous one (the protocol's damage tracking).
// So Wait::NextFrame opens a fresh session unless the open one has not given a frame yet, and
// Wait::Damage keeps the open session of that output. The buffer is declared wholly damaged on
// every frame (pooled buffers hold older pictures), so every frame is copied in full.
// A frame that copyPrimary() asked for and that was not ready by the deadline stays requested
// until forgetRequested(): the next copy of the same output waits for it instead of asking anew,
// so that a compositor slower than the deadline (Hyprland under software emulation takes seconds
// per frame) still gives one within a capture's attempts.

#include "OutputCapture.h"

namespace platform {

class ExtImageCopyCapture final : public OutputCapture
{
public:
    // nullptr when the connection lacks either manager or wl_shm.
    static std::shared_ptr<ExtImageCopyCapture>
    create(std::shared_ptr<WaylandConnection> connection);
    ~ExtImageCopyCapture() override;

    QString protocolName() const override;
    void forgetRequested() override;
    bool offersDamage() const override { return true; }

    struct Session;
    struct Request;

private:
    using OutputCapture::OutputCapture;
    std::optional<Frame> copyFrame(const WaylandConnection::Output &output, Wait wait,
                                   QDeadlineTimer deadline, Dispatch how) override;
    bool openSession(const WaylandConnection::Output &output, QDeadlineTimer deadline,
                     Dispatch how);

    std::unique_ptr<Session> m_session;
    std::unique_ptr<Request> m_request; // a frame of m_session asked for and not yet ready
};

} // namespace platform
