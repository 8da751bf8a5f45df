#pragma once
// A private Xvfb for one test: started with the given arguments on a display that Xvfb picks
// itself, stopped by the destructor. For screens the shared fixture does not offer (8- or
// 16-bit depth, no MIT-SHM, two monitors, 4K).

#include <QProcess>
#include <QString>
#include <QStringList>

namespace testsupport {

class XvfbServer
{
public:
    // extraArgs e.g. {"-screen", "0", "1024x768x8"} or {"+extension", "XINERAMA"}.
    explicit XvfbServer(const QStringList &extraArgs);
    ~XvfbServer();
    XvfbServer(const XvfbServer &) = delete;
    XvfbServer &operator=(const XvfbServer &) = delete;

    bool isRunning() const { return !m_display.isEmpty(); }
    QString display() const { return m_display; } // e.g. ":5"

private:
    QProcess m_process;
    QString m_display;
};

} // namespace testsupport
