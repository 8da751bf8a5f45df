#include "WaitSeconds.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace ui {

void WaitSeconds(double seconds)
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

} // namespace ui
