#include "OutputCapture.h"

#include <system_error>

Q_LOGGING_CATEGORY(lcWayland, "vo.platform.wayland", QtInfoMsg)

namespace platform {

OutputCapture::OutputCapture(std::shared_ptr<WaylandConnection> connection)
    : m_connection(std::move(connection))
    , m_pool(std::make_shared<ShmBufferPool>(m_connection))
{
}

OutputCapture::~OutputCapture()
{
    waitUntilPrepared();
    m_settled.reset();
}

void OutputCapture::setTarget(const QString &outputName, std::optional<QPoint> point)
{
    waitUntilPrepared();
    if (m_settled)
        release(*std::exchange(m_settled, std::nullopt));
    m_targetName = outputName;
    m_targetPoint = point;
}

const WaylandConnection::Output *OutputCapture::target() const
{
    return m_connection->chooseOutput(m_targetName, m_targetPoint ? &*m_targetPoint : nullptr);
}

const WaylandConnection::Output *OutputCapture::primary() const
{
    return m_connection->primaryOutput();
}

std::optional<OutputCapture::Frame> OutputCapture::copy(Wait wait, QDeadlineTimer deadline,
                                                        Dispatch how)
{
    waitUntilPrepared();
    return copyOf(&OutputCapture::target, wait, deadline, how, Asked::Forget);
}

std::optional<OutputCapture::Frame> OutputCapture::copyPrimary(QDeadlineTimer deadline)
{
    waitUntilPrepared();
    return copyOf(&OutputCapture::primary, Wait::NextFrame, deadline, Dispatch::Blocking,
                  Asked::Keep);
}

std::optional<OutputCapture::Frame>
OutputCapture::copyOf(const WaylandConnection::Output *(OutputCapture::*which)() const, Wait wait,
                      QDeadlineTimer deadline, Dispatch how, Asked asked)
{
    if (m_connection->hasError())
        return std::nullopt;
    // Outputs come and go; their announcements must be in before one is picked.
    m_connection->dispatchAvailable();
    const WaylandConnection::Output *output = (this->*which)();
    if (!output)
        return std::nullopt;
    std::optional<Frame> frame = copyFrame(*output, wait, deadline, how);
    if (frame)
        frame->outputGlobal = output->globalName;
    else if (asked == Asked::Forget)
        forgetRequested();
    return frame;
}

void OutputCapture::release(Frame frame)
{
    if (frame.buffer)
        m_pool->giveBack(std::move(frame.buffer));
}

void OutputCapture::keepSettledFrame(Frame frame)
{
    if (m_settled)
        release(std::move(*m_settled));
    m_settled = std::move(frame);
    m_settledAt = std::chrono::steady_clock::now();
}

std::optional<OutputCapture::Frame> OutputCapture::takeSettledFrame()
{
    waitUntilPrepared(); // the preparation's thread may be reading the outputs' announcements
    std::optional<Frame> frame = std::exchange(m_settled, std::nullopt);
    const WaylandConnection::Output *shown = primary();
    if (frame && (std::chrono::steady_clock::now() - m_settledAt > SettledFrameLifetime || !shown ||
                  shown->globalName != frame->outputGlobal)) {
        release(std::move(*frame));
        return std::nullopt;
    }
    return frame;
}

void OutputCapture::prepareInBackground()
{
    if (*m_preparing)
        return; // still at work
    waitUntilPrepared();
    if (m_pool->keptBuffers() > 0 || m_connection->hasError())
        return;
    *m_preparing = true;
    try {
        m_preparation = std::jthread([this, preparing = m_preparing] {
            std::optional<Frame> frame =
                copyOf(&OutputCapture::primary, Wait::NextFrame,
                       QDeadlineTimer(std::chrono::seconds(5)), Dispatch::Blocking, Asked::Forget);
            if (frame) {
                frame->buffer->touchPages();
                release(std::move(*frame));
            }
            *preparing = false;
        });
    } catch (const std::system_error &) {
        // No thread to be had: the first capture makes its buffer itself.
        *m_preparing = false;
    }
}

void OutputCapture::releasePreparation()
{
    waitUntilPrepared();
    m_settled.reset();
    m_pool->clear();
}

void OutputCapture::waitUntilPrepared()
{
    if (m_preparation.joinable())
        m_preparation.join();
}

} // namespace platform
