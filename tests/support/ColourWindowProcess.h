#pragma once
// Another program's window for the tests: runs vo-colour-window at the given place and waits
// until it has painted; ends it again when destroyed.

#include "ChildEnvironment.h"

#include <QProcess>
#include <QRect>
#include <QString>

#include <csignal>

class ColourWindowProcess
{
public:
    // paintMilliseconds: how long each of its paints takes.
    ColourWindowProcess(const QRect &area, const QString &colour, int paintMilliseconds = 0)
    {
        m_process.setProcessEnvironment(testsupport::childEnvironment());
        m_process.start(QStringLiteral(VO_COLOUR_WINDOW),
                        {QString::number(area.x()), QString::number(area.y()),
                         QString::number(area.width()), QString::number(area.height()), colour,
                         QString::number(paintMilliseconds)});
        m_ready = m_process.waitForReadyRead(30000) && m_process.readLine().startsWith("ready");
    }
    ~ColourWindowProcess()
    {
        resume();
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    ColourWindowProcess(const ColourWindowProcess &) = delete;
    ColourWindowProcess &operator=(const ColourWindowProcess &) = delete;

    bool isReady() const { return m_ready; }

    // A hung program: stopped, it repaints nothing until resumed.
    void stop() { ::kill(static_cast<pid_t>(m_process.processId()), SIGSTOP); }
    void resume() { ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT); }

private:
    QProcess m_process;
    bool m_ready = false;
};
