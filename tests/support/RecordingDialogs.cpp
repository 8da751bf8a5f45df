#include "RecordingDialogs.h"

namespace testsupport {

void RecordingDialogs::showMessage(const QString &title, const QString &text, Icon icon)
{
    messages.append({title, text, icon});
    if (onMessage)
        onMessage();
}

std::optional<QString> RecordingDialogs::askText(const QString &caption, const QString &message)
{
    prompts.append({caption, message});
    return answers.isEmpty() ? std::nullopt : answers.dequeue();
}

QString RecordingDialogs::chooseFolder(const QString &title, const QString &startFolder)
{
    folderRequests.append({title, startFolder});
    return folders.isEmpty() ? QString() : folders.dequeue();
}

} // namespace testsupport
