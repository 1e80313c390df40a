// The desktop module: the parts of Quenda that need the desktop's libraries (Qt, the sound
// server, the display, the speech synthesiser). The quenda executable loads it only for the
// window and for `--cli doctor`, so that its other commands start without loading those
// libraries (tens of milliseconds on every run).

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "ui/QuendaApplication.h"

#define QUENDA_MODULE_ENTRY extern "C" __attribute__((visibility("default")))

QUENDA_MODULE_ENTRY int quenda_run_windowed_application(int argc, char** argv) {
    return quenda::ui::runWindowedApplication(argc, argv);
}

// `argv` as the executable got it: "--cli doctor ...".
QUENDA_MODULE_ENTRY int quenda_run_doctor(int argc, char** argv) {
    quenda::installCommandLineInterruptHandlers();
    return quenda::runCommand(quenda::runDoctorCommand, {argv + 2, argv + argc});
}
