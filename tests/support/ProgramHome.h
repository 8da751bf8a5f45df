#pragma once
// ProgramHome: a HOME of its own for the real program under test. A temporary folder with the
// output folder shots/ and the settings file config/Kestrelby/Vistarel Ombrix.conf, whose
// [General] group names shots/ as the folder (Text1) and then holds the given lines.
// environment() is a started program's environment (ChildEnvironment.h) with HOME and
// XDG_CONFIG_HOME pointing here.

#include "ChildEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace testsupport {

class ProgramHome
{
public:
    // lines: e.g. "Option2=True\nOption5=True\n"
    explicit ProgramHome(const QByteArray &lines)
    {
        QFile settings(settingsPath());
        m_ready = m_dir.isValid() && QDir().mkpath(output()) &&
                  QDir().mkpath(path() + "/config/Kestrelby") &&
                  settings.open(QIODevice::WriteOnly) &&
                  settings.write("[General]\nText1=" + output().toUtf8() + '\n' + lines) > 0;
    }

    bool isReady() const { return m_ready; }
    QString path() const { return m_dir.path(); }
    QString output() const { return m_dir.path() + "/shots"; }
    QString settingsPath() const { return path() + "/config/Kestrelby/Vistarel Ombrix.conf"; }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = childEnvironment();
        environment.insert("HOME", path());
        environment.insert("XDG_CONFIG_HOME", path() + "/config");
        return environment;
    }

private:
    QTemporaryDir m_dir;
    bool m_ready = false;
};

} // namespace testsupport
