#pragma once
// The "..." button's click handler: lets the user pick the output folder and puts its path,
// ending in "/", into Text1, whose own handler stores it. Runs inside its trap: a failure is
// reported with the statement's number and the handler goes on. Holds references only.

namespace app {
class ErrorReporter;
}

namespace ui {

class FolderBrowser;
class MainWindow;

inline constexpr auto FolderBrowserTitle = "Please select folder:";

class FolderSelection
{
public:
    FolderSelection(MainWindow &window, FolderBrowser &browser, app::ErrorReporter &reporter);

    // Asks for a folder (the picker is not positioned on the current Text1). Cancel leaves
    // Text1 and its setting alone; a chosen path gets a trailing "/" unless it has one.
    void PushButton2_Click();

private:
    MainWindow &m_window;
    FolderBrowser &m_browser;
    app::ErrorReporter &m_reporter;
};

} // namespace ui
