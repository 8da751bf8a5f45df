#pragma once
// Form1, the program's one window: every control of the user's choices, laid out at its design
// position, and the small handlers that write each choice to the settings store the moment it
// changes (program-made changes included). The push buttons' click handlers live elsewhere
// (CaptureCommand, FolderSelection); main connects them to PushButton1() and PushButton2().
// Closing the window ends the program at once.

#include "PictureBox.h"

#include <QCursor>
#include <QWidget>
#include <functional>
#include <memory>

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;

namespace app {
class SettingsStore;
class UntrappedFailures;
}

namespace ui {

class MainWindow : public QWidget
{
public:
    // Mouse-pointer values of the window.
    static constexpr int PointerDefault = 0;
    static constexpr int PointerHourglass = 11;
    static constexpr int PointerCustom = 99;

    explicit MainWindow(app::SettingsStore &settings, QWidget *parent = nullptr);
    ~MainWindow() override;

    QPushButton *PushButton1() const;
    QPushButton *PushButton2() const;
    QGroupBox *Frame1() const;
    QGroupBox *Frame2() const;
    QGroupBox *Frame3() const;
    QLineEdit *Text1() const;
    QLineEdit *Text2() const;
    QRadioButton *Option1() const;
    QRadioButton *Option2() const;
    QRadioButton *Option3() const;
    QRadioButton *Option4() const;
    QRadioButton *Option5() const;
    QLabel *Label1() const;
    QSlider *Slider1() const;
    PictureBox *picSS() const;
    PictureBox *Creator() const;

    // The window's mouse-pointer setting (0, 11 or 99); 99 shows the custom pointer picture
    // when one was set, otherwise the system's pointing-hand cursor. Applies over the whole
    // window, its controls included.
    int mousePointer() const;
    void setMousePointer(int value);
    void setCustomPointer(const QCursor &cursor);

    // Called after each settings write of the handlers, with its key and value, in the order
    // of the writes. For tests and diagnostics; none by default.
    using SettingObserver = std::function<void(const QString &key, const QString &value)>;
    void setSettingObserver(SettingObserver observer);

    // Where the handlers report a failure of their own (a settings write that did not reach
    // the disk) when the user set the control off. Without one, such a failure is thrown
    // back to whoever changed the control.
    void setUntrappedFailures(app::UntrappedFailures *failures);

    // Runs change, a trapped handler's statement that sets controls: a failure of a handler
    // that the change sets off is thrown from here once the change has run, so that the
    // caller's trap reports it with its own statement number. Nothing passes through Qt.
    void runTrapped(const std::function<void()> &change);

private:
    struct Controls;
    std::unique_ptr<Controls> m_controls;
};

} // namespace ui
