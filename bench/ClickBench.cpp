#include "ClickBench.h"

#include "BenchFigures.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>

#include <cstdio>

namespace bench {

void QuietDialogs::showMessage(const QString &title, const QString &text, Icon)
{
    std::fprintf(stderr, "%s: %s: %s\n", m_benchName, qPrintable(title), qPrintable(text));
    ++failures;
}

PhotoWindow::PhotoWindow(QImage image, Qt::WindowFlags flags)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | flags)
    , m_image(std::move(image))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PhotoWindow::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.drawImage(event->rect(), m_image, event->rect());
}

void settle(int milliseconds)
{
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace bench
