#pragma once
// WlrScreencopy: frames of one output through the wlroots screencopy protocol
// (zwlr_screencopy_manager_v1, versions 1 to 3): the fallback where the compositor offers no
// ext-image-copy-capture. Damage waits (copy_with_damage) need version 2.

#include "OutputCapture.h"

namespace platform {

class WlrScreencopy final : public OutputCapture
{
public:
    // nullptr when the connection offers no screencopy manager or no wl_shm.
    static std::shared_ptr<WlrScreencopy> create(std::shared_ptr<WaylandConnection> connection);
    ~WlrScreencopy() override;

    QString protocolName() const override;
    bool offersDamage() const override;

private:
    using OutputCapture::OutputCapture;
    std::optional<Frame> copyFrame(const WaylandConnection::Output &output, Wait wait,
                                   QDeadlineTimer deadline, Dispatch how) override;
};

} // namespace platform
