// The windowed application's entry point as a loadable module. The quenda executable loads this
// module only when it opens the window, so that its command line starts without loading Qt and
// the libraries of the desktop (tens of milliseconds on every `quenda --cli` run).

#include "ui/QuendaApplication.h"

extern "C" __attribute__((visibility("default"))) int quenda_run_windowed_application(int argc,
                                                                                      char** argv) {
    return quenda::ui::runWindowedApplication(argc, argv);
}
