#pragma once
// The main window's controls by their design names (their object names), for tests that work
// them as a user would: control<QRadioButton>(window, "Option4")->click().

#include <QLatin1String>
#include <QWidget>

namespace testsupport {

template <typename Control = QWidget> Control *control(const QWidget &window, const char *name)
{
    auto *found = window.findChild<Control *>(QLatin1String(name));
    Q_ASSERT_X(found, "control", name);
    return found;
}

} // namespace testsupport
