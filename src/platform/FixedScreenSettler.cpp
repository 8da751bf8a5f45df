#include "FixedScreenSettler.h"

#include <QEventLoop>
#include <QTimer>

namespace platform {

void FixedScreenSettler::waitUntilRepainted()
{
    QEventLoop loop;
    QTimer::singleShot(limit(), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace platform
