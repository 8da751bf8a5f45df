#include "GuiModule.h"

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

#ifndef VO_GUI_MODULE_FILE
#define VO_GUI_MODULE_FILE "libvistarel-ombrix-gui.so"
#endif
#ifndef VO_GUI_MODULE_FROM_BINDIR
#define VO_GUI_MODULE_FROM_BINDIR "../lib/vistarel-ombrix"
#endif

namespace startup {

namespace {

// The folder of the running executable, without a trailing "/"; empty when unknown.
std::string executableFolder()
{
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return {};
    const std::string executable(path, static_cast<std::size_t>(length));
    return executable.substr(0, executable.rfind('/'));
}

} // namespace

GuiModule::~GuiModule() = default;

GuiPart &GuiModule::part()
{
    if (m_part)
        return *m_part;
    // Installed: <prefix>/<libdir>/vistarel-ombrix, found from <prefix>/<bindir>; in the build
    // tree: beside the executable.
    const std::string folder = executableFolder();
    std::string tried;
    for (const std::string &candidate :
         {folder + "/" VO_GUI_MODULE_FROM_BINDIR "/" VO_GUI_MODULE_FILE,
          folder + "/" VO_GUI_MODULE_FILE}) {
        if (::access(candidate.c_str(), F_OK) != 0) {
            tried += (tried.empty() ? "" : ", ") + candidate;
            continue;
        }
        // Never closed: the GUI part's code runs until the process ends.
        void *library = ::dlopen(candidate.c_str(), RTLD_LAZY | RTLD_LOCAL);
        auto *make = library
                         ? reinterpret_cast<GuiPart *(*)()>(::dlsym(library, "vo_make_gui_part"))
                         : nullptr;
        if (!make) {
            std::fprintf(stderr, "vistarel-ombrix: the program's GUI part cannot be loaded: %s\n",
                         ::dlerror());
            std::fflush(stderr);
            std::_Exit(1);
        }
        m_part.reset(make());
        return *m_part;
    }
    std::fprintf(stderr, "vistarel-ombrix: the program's GUI part is missing (looked for %s)\n",
                 tried.c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace startup
