// Quenda's entry point: "--cli" as the first argument runs the command-line mode; anything
// else starts the windowed application, which lives in a module loaded only then (the command
// line does not pay for loading Qt and the libraries of the desktop).

#include <dlfcn.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "platform/Paths.h"

namespace {

// <executable dir>/../lib/quenda/modules/libquenda-window.so, in the build tree as in an
// installation.
int runWindowedApplicationModule(int argc, char** argv) {
    const auto module = (quenda::paths::executablePath().parent_path() / ".." / "lib" / "quenda" /
                         "modules" / "libquenda-window.so")
                            .lexically_normal();
    void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    using Run = int (*)(int, char**);
    auto run =
        handle ? reinterpret_cast<Run>(dlsym(handle, "quenda_run_windowed_application")) : nullptr;
    if (!run) {
        std::fprintf(stderr,
                     "Quenda: não foi possível carregar a janela: %s\n"
                     "Reinstale o Quenda; a linha de comando (quenda --cli) continua disponível.\n",
                     dlerror());
        return 1;
    }
    return run(argc, argv);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv, argv + argc);

    if (args.size() >= 2 && args[1] == "--cli") {
        quenda::installCommandLineInterruptHandlers();
        return quenda::runCLI({args.begin() + 2, args.end()});
    }

    return runWindowedApplicationModule(argc, argv);
}
