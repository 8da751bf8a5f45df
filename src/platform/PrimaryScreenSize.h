#pragma once
// The primary screen's size in device pixels as the toolkit knows it; empty without a screen.
// What the desktops' backends expect their first picture to measure, to prepare its memory.

#include <QGuiApplication>
#include <QScreen>
#include <QSize>

namespace platform {

inline QSize primaryScreenSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() * screen->devicePixelRatio() : QSize();
}

} // namespace platform
