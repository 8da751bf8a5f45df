#pragma once
// Reports the failures of handlers that have no trap of their own: a control's change handler
// whose settings write fails, or anything else that reaches the event loop. The user is told
// clearly but never flooded: each failure is shown once in an "Application Error" box with a
// warning icon, and the same failure (same place, description and number) stays quiet while it
// keeps recurring: until it has not recurred for QuietPeriodMs, or until its place has run once
// without failing (run()). Failures that happen while a box is open are shown one after another
// when it closes, each distinct one once. Holds a reference to the dialogs, which must outlive
// it.

#include "Dialogs.h"
#include "Failure.h"

#include <QList>
#include <QString>
#include <functional>

namespace app {

// The text of such a box: description, CR LF, "in " and the place (and ", error " and the
// number when there is one), CR CR, the support sentence of the error report.
QString BuildUntrappedReport(const QString &where, const Failure &failure);

class UntrappedFailures
{
public:
    static constexpr qint64 QuietPeriodMs = 30000;

    explicit UntrappedFailures(Dialogs &dialogs);

    // Milliseconds from any fixed start (default: a monotonic clock). Tests only.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Runs an untrapped handler, named by where (e.g. "Form1.Text1_Change"). A failure is
    // reported and not passed on; a run without failure lets where's failures be shown again.
    void run(const QString &where, const std::function<void()> &handler) noexcept;

    // Reports the exception being handled as a failure at where. Call inside a catch block.
    void reportCurrent(const QString &where) noexcept;
    void report(const QString &where, const Failure &failure) noexcept;

    // where has run without failing: its failures will be shown again when they recur.
    void succeeded(const QString &where);

    // How many failures were kept quiet since construction.
    int quietedCount() const { return m_quietedCount; }

private:
    struct Entry
    {
        QString where;
        Failure failure;
        qint64 lastSeen = 0;
        bool sameAs(const QString &w, const Failure &f) const
        {
            return where == w && failure.number == f.number && failure.description == f.description;
        }
    };
    void show(const Entry &entry) noexcept;

    Dialogs &m_dialogs;
    Clock m_clock;
    QList<Entry> m_quiet;   // shown, not to be shown again yet
    QList<Entry> m_pending; // to be shown when the open box closes
    bool m_showing = false;
    int m_quietedCount = 0;
};

} // namespace app
