#pragma once
// Fakes for the program's replaceable platform services: they record what the program asked
// for and answer from queues the test fills. Nothing ever blocks or opens a real window.

#include "Dialogs.h"
#include "RandomSource.h"
#include "UrlOpener.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>

namespace testsupport {

class RecordingDialogs : public app::Dialogs
{
public:
    struct Message
    {
        QString title;
        QString text;
        Icon icon;
    };
    struct Prompt
    {
        QString caption;
        QString message;
    };
    struct FolderRequest
    {
        QString title;
        QString startFolder;
    };

    void showMessage(const QString &title, const QString &text, Icon icon) override;
    std::optional<QString> askText(const QString &caption, const QString &message) override;
    QString chooseFolder(const QString &title, const QString &startFolder) override;

    QList<Message> messages;
    QList<Prompt> prompts;
    QList<FolderRequest> folderRequests;
    QQueue<std::optional<QString>> answers; // for askText; empty queue answers Cancel
    QQueue<QString> folders;                // for chooseFolder; empty queue answers Cancel
    std::function<void()> onMessage;        // runs inside showMessage, e.g. to look at the screen
};

class RecordingUrlOpener : public app::UrlOpener
{
public:
    void openUrl(const QUrl &url) override { opened.append(url); }
    QList<QUrl> opened;
};

class FixedRandomSource : public app::RandomSource
{
public:
    explicit FixedRandomSource(int value)
        : m_value(value)
    {
    }
    int drawPercent() override { return m_value; }

private:
    int m_value;
};

} // namespace testsupport
