#include "FolderSelection.h"

#include "ErrorReporter.h"
#include "FolderBrowser.h"
#include "MainWindow.h"
#include "ReportLocations.h"
#include "Trap.h"

namespace ui {

using app::Trap;

FolderSelection::FolderSelection(MainWindow &window, FolderBrowser &browser,
                                 app::ErrorReporter &reporter)
    : m_window(window)
    , m_browser(browser)
    , m_reporter(reporter)
{
}

void FolderSelection::PushButton2_Click()
{
    QString chosen;

    // A failing test enters what it guards: here the early return.
    Trap trap(m_reporter, QString::fromUtf8(app::ReportLocation::PushButton2Click));
    // The statement table keeps one statement a line, as it reads.
    // clang-format off
    trap.run({
        {100, [&] {
             chosen = m_browser.ShowFolderBrowser(QString::fromUtf8(FolderBrowserTitle), QString());
             return Trap::Next;
         }},
        {102, [&] { return chosen.isEmpty() ? Trap::Return : Trap::Next; }, Trap::Return},
        {104, [&] {
             m_window.failureRouting().runTrapped([&] { m_window.setFolder(chosen); });
             return Trap::Next;
         }},
        {106, [&] { return m_window.folder().endsWith(QLatin1Char('/')) ? Trap::Return : Trap::Next; }, Trap::Return},
        {108, [&] {
             m_window.failureRouting().runTrapped(
                 [&] { m_window.setFolder(m_window.folder() + QLatin1Char('/')); });
             return Trap::Next;
         }},
    });
    // clang-format on
}

} // namespace ui
