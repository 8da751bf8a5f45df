#include "UntrappedFailures.h"

#include "ErrorReporter.h"

#include <QElapsedTimer>
#include <QtGlobal>

namespace app {

namespace {

// Bounds that keep a failure storm from growing memory: the oldest quiet failure is forgotten
// (and may be shown again), a pending failure beyond the limit is dropped.
constexpr qsizetype MaxQuiet = 64;
constexpr qsizetype MaxPending = 8;

} // namespace

QString BuildUntrappedReport(const QString &where, const Failure &failure)
{
    QString text = failure.description + QStringLiteral("\r\nin ") + where;
    if (failure.number != 0)
        text += QStringLiteral(", error ") + QString::number(failure.number);
    return text + QStringLiteral("\r\rPlease email screenshot of this message to ") +
           QString::fromUtf8(SupportAddress);
}

UntrappedFailures::UntrappedFailures(Dialogs &dialogs)
    : m_dialogs(dialogs)
    , m_clock([timer = QElapsedTimer()]() mutable {
        if (!timer.isValid())
            timer.start();
        return timer.elapsed();
    })
{
}

void UntrappedFailures::run(const QString &where, const std::function<void()> &handler) noexcept
{
    try {
        handler();
    } catch (...) {
        reportCurrent(where);
        return;
    }
    succeeded(where);
}

void UntrappedFailures::reportCurrent(const QString &where) noexcept
{
    report(where, CurrentFailure());
}

void UntrappedFailures::report(const QString &where, const Failure &failure) noexcept
{
    try {
        const qint64 now = m_clock();
        m_quiet.removeIf([&](const Entry &e) { return now - e.lastSeen >= QuietPeriodMs; });
        for (Entry &entry : m_quiet) {
            if (entry.sameAs(where, failure)) {
                entry.lastSeen = now;
                ++m_quietedCount;
                return;
            }
        }
        if (m_quiet.size() >= MaxQuiet)
            m_quiet.removeFirst();
        const Entry entry{where, failure, now};
        m_quiet.append(entry);
        qWarning("Untrapped failure in %s: %s", qPrintable(where), qPrintable(failure.description));

        if (m_showing) {
            if (m_pending.size() < MaxPending)
                m_pending.append(entry);
            return;
        }
        m_showing = true;
        show(entry);
        while (!m_pending.isEmpty())
            show(m_pending.takeFirst());
        m_showing = false;
    } catch (...) {
        // Only memory can run out here; there is nothing left to report with.
        m_showing = false;
    }
}

void UntrappedFailures::succeeded(const QString &where)
{
    m_quiet.removeIf([&](const Entry &entry) { return entry.where == where; });
}

void UntrappedFailures::show(const Entry &entry) noexcept
{
    try {
        m_dialogs.showMessage(QStringLiteral("Application Error"),
                              BuildUntrappedReport(entry.where, entry.failure),
                              Dialogs::Icon::Warning);
    } catch (...) {
        qWarning("The failure report of %s could not be shown", qPrintable(entry.where));
    }
}

} // namespace app
