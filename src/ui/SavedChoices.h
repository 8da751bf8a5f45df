#pragma once
// The choices as the settings store holds them, for a capture without the main window: the
// folder ("Text1", the desktop folder when absent), the prefix ("Text2", "Screenshots"), the
// naming mode and the format as the start-up restore would leave the option buttons (restored
// in key order, the last one that is on wins its group; a value that cannot be read leaves the
// button as it starts), and JPG quality 85. Reads the store at each call; writes nothing. No
// window steps aside. Holds a reference to the store, which must outlive it.

#include "CaptureClient.h"

namespace app {
class SettingsStore;
}

namespace ui {

class SavedChoices final : public CaptureClient
{
public:
    explicit SavedChoices(app::SettingsStore &settings) : m_settings(settings) {}

    QString folder() const override;
    QString prefix() const override;
    NamingMode namingMode() const override;
    imaging::ImageFormat imageFormat() const override;
    int jpegQuality() const override { return 85; }

    void setMousePointer(int) override {}
    QWindow *shownWindow() const override { return nullptr; }
    void stepAside() override {}
    void comeBack() override {}

private:
    bool option(const char *key, bool initial) const;

    app::SettingsStore &m_settings;
};

} // namespace ui
