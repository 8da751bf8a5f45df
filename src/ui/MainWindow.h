#pragma once
// Form1, the program's one window: every control of the user's choices, laid out at its design
// position, and the small handlers that write each choice to the settings store the moment it
// changes (program-made changes included). It speaks the user's choices (folder(), prefix(),
// namingMode(), imageFormat(), jpegQuality()); the push buttons' click handlers live elsewhere
// (CaptureCommand, FolderSelection), and main connects them to captureButton() and
// browseButton(). Closing the window ends the program at once. Controls keep their design names
// as object names ("Text1", "Option4", ...).

#include "CaptureClient.h"
#include "FailureRouting.h"

#include <QCursor>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class QPushButton;

namespace app {
class SettingsStore;
}

namespace ui {

class MainWindow : public QWidget, public CaptureClient
{
public:
    // Mouse-pointer values of the window.
    static constexpr int PointerDefault = 0;
    static constexpr int PointerHourglass = 11;
    static constexpr int PointerCustom = 99;

    explicit MainWindow(app::SettingsStore &settings, QWidget *parent = nullptr);
    ~MainWindow() override;

    // "Capture Now" (PushButton1) and "..." (PushButton2).
    QPushButton *captureButton() const;
    QPushButton *browseButton() const;

    // The output folder (Text1) and the counting-number prefix (Text2), as typed.
    QString folder() const override;
    void setFolder(const QString &folder);
    QString prefix() const override;
    void setPrefix(const QString &prefix);

    // The naming option that is on (a row of namingOptions()); None when all are off.
    NamingMode namingMode() const override;
    // Sets one naming option on or off; switching one on switches the others off.
    void setNamingOption(NamingMode mode, bool on);

    // The format whose option is on (a row of formatOptions()); Bmp when all are off.
    imaging::ImageFormat imageFormat() const override;
    void setFormatOption(imaging::ImageFormat format, bool on);

    // The JPEG quality slider's position (Slider1), 0 to 100; 85 at every start.
    int jpegQuality() const override;

    // This window while it is shown.
    QWindow *shownWindow() const override;
    // Steps aside for a capture: hides the window, remembering which control had the focus.
    void stepAside() override;
    // Comes back after it: shown, raised and active, with the focus where it was.
    void comeBack() override;

    // The window's mouse-pointer setting (0, 11 or 99); 99 shows the custom pointer picture
    // when one was set, otherwise the system's pointing-hand cursor. Applies over the whole
    // window, its controls included.
    int mousePointer() const;
    void setMousePointer(int value) override;
    void setCustomPointer(const QCursor &cursor);

    // Called after each settings write of the handlers, with its key and value, in the order
    // of the writes. For tests and diagnostics; none by default.
    using SettingObserver = std::function<void(const QString &key, const QString &value)>;
    void setSettingObserver(SettingObserver observer);

    // Where the failures of the control handlers go (see FailureRouting): set its untrapped
    // failures, and make trapped statements that set controls through runTrapped().
    app::FailureRouting &failureRouting();

private:
    friend class MainWindowEvents;
    struct Controls;
    std::unique_ptr<Controls> m_controls;
};

} // namespace ui
