#pragma once
// What the click-to-file benches (bench_clicktofile, bench_jpegclick) share: dialogs that only
// count and print messages, another application's window of given content, and a wait that
// keeps the events flowing.

#include "Dialogs.h"

#include <QImage>
#include <QWidget>

#include <optional>

namespace bench {

// Messages go to standard error, prefixed with the bench's name, and are counted; prompts and
// folder pickers are cancelled.
class QuietDialogs : public app::Dialogs
{
public:
    explicit QuietDialogs(const char *benchName)
        : m_benchName(benchName)
    {
    }
    void showMessage(const QString &title, const QString &text, Icon) override;
    std::optional<QString> askText(const QString &, const QString &) override
    {
        return std::nullopt;
    }
    QString chooseFolder(const QString &, const QString &) override { return {}; }
    int failures = 0;

private:
    const char *m_benchName;
};

// Another application's frameless window, repainting image from its own backing store.
class PhotoWindow : public QWidget
{
public:
    PhotoWindow(QImage image, Qt::WindowFlags flags);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_image;
};

// Processes events for the given time.
void settle(int milliseconds);

} // namespace bench
