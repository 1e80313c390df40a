// Quenda's entry point: "--cli" as the first argument runs the command-line mode; anything
// else starts the windowed application. The window and the doctor live in the desktop module,
// loaded only for them: the other commands do not pay for loading Qt and the libraries of the
// desktop.

#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "platform/Paths.h"

namespace {

// Runs `entry` of <executable dir>/../lib/quenda/modules/libquenda-desktop.so (in the build
// tree as in an installation) with the process's arguments.
int runFromDesktopModule(const char* entry, int argc, char** argv) {
    const auto module = (quenda::paths::executablePath().parent_path() / ".." / "lib" / "quenda" /
                         "modules" / "libquenda-desktop.so")
                            .lexically_normal();
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Run = int (*)(int, char**);
    auto run = handle ? reinterpret_cast<Run>(dlsym(handle, entry)) : nullptr;
    if (!run) {
        std::fprintf(stderr, "ERRO: instalação incompleta do Quenda (%s); reinstale o Quenda.\n",
                     dlerror());
        return 1;
    }
    return run(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);

    if (args.size() >= 2 && args[1] == "--cli") {
        if (args.size() >= 3 && args[2] == "doctor")
            return runFromDesktopModule("quenda_run_doctor", argc, argv);
        quenda::installCommandLineInterruptHandlers();
        return quenda::runCLI({args.begin() + 2, args.end()});
    }

    return runFromDesktopModule("quenda_run_windowed_application", argc, argv);
}
