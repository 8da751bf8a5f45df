#include "FakeCaptureBackend.h"

#include <QImage>

namespace testsupport {

FakeCaptureBackend::FakeCaptureBackend()
    : m_results{picture(Qt::darkCyan)}
{
}

void FakeCaptureBackend::setResults(QList<imaging::Picture> results)
{
    m_results = std::move(results);
}

imaging::Picture FakeCaptureBackend::picture(QColor colour, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return imaging::Picture::fromImage(image);
}

imaging::Picture FakeCaptureBackend::captureScreen()
{
    ++m_captures;
    if (onCapture)
        onCapture();
    if (m_results.isEmpty())
        return {};
    return m_results.size() > 1 ? m_results.takeFirst() : m_results.first();
}

} // namespace testsupport
