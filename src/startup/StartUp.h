#pragma once
// The start-up sequence of the main window: Form_Load dresses the hidden window (skin, pointer
// picture, caption, icon), sets the application title, on one start in a hundred opens the
// product's home page, and restores the user's choices from the settings store into the
// controls, each restore running the control's own handler. Every step runs inside the trap of
// Form_Load: a failed step is reported with its number and start-up goes on. The caller shows
// the window after Form_Load returns. StartUp holds references only; everything it is given
// must outlive it.

#include "AppTitle.h"
#include "core/Addresses.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>

namespace ui {
class MainWindow;
}

namespace app {
class ErrorReporter;
class RandomSource;
class SettingsStore;
class UrlOpener;
} // namespace app

namespace startup {

using core::HomePageAddress;
// The optional files, relative to a folder of OptionalFileFolders().
inline constexpr auto SkinFileName = "x/o.cjs";
inline constexpr auto PointerFileName = "HAND-M.CUR";

// The resource paths of the program icon's images, one per size.
QStringList IconImagePaths();

// The folder that holds the executable, without a trailing "/".
QString ProgramFolder();

// Where the optional files are looked up, in order: the program folder, then the installed
// program's data folder (<prefix>/share/vistarel-ombrix) when it is a different folder.
QStringList OptionalFileFolders();

class StartUp
{
public:
    StartUp(ui::MainWindow &window, app::SettingsStore &settings, app::ErrorReporter &reporter,
            app::RandomSource &random, app::UrlOpener &urlOpener);

    // The folders searched for the skin and pointer files; OptionalFileFolders() by default.
    void setSearchFolders(const QStringList &folders) { m_searchFolders = folders; }

    // Where the program icon's images come from (IconImagePaths()); read from the resources by
    // default. A null image fails the icon step.
    using ImageSource = std::function<QImage(const QString &path)>;
    void setIconImageSource(ImageSource source) { m_iconImages = std::move(source); }

    // Runs the load step on the hidden window. Never throws: failures are reported.
    void Form_Load();

    // When the skin file x/o.cjs is listed (an ordinary, non-hidden file) in a search folder:
    // gives the window and its option buttons, check boxes, frames and labels the button-face
    // background, then loads the file as the window's style sheet. Throws core::Error when the
    // file cannot be read or Qt cannot parse it; the colours stay and no sheet is applied.
    // Image urls of the sheet may name files beside it as "skin:<name>".
    void ApplySkin();

private:
    QString findOptionalFile(const QString &name, bool listedOnly) const;

    ui::MainWindow &m_window;
    app::SettingsStore &m_settings;
    app::ErrorReporter &m_reporter;
    app::RandomSource &m_random;
    app::UrlOpener &m_urlOpener;
    QStringList m_searchFolders;
    ImageSource m_iconImages;
};

} // namespace startup
