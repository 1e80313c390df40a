// "doctor [--model <id>]": one line per piece Quenda needs, "ok" or what is wrong and the
// command that fixes it; with the selected model installed, one timed test transcription.
// Exit status 0 only when dictation can work.

#include <unistd.h>

#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/DoctorChecks.h"
#include "cli/DoctorTiming.h"
#include "cli/StoredModelChoice.h"

namespace quenda {

namespace {

constexpr const char* kDefaultModel = "large-v3-turbo";

std::string modelOption(const std::vector<std::string>& args) {
    std::optional<std::string> model;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] != "--model")
            fail("argumento desconhecido: " + args[i]);
        if (++i == args.size())
            fail("--model requer valor");
        model = args[i];
    }
    if (!model)
        model = storedModelID();
    return model.value_or(kDefaultModel);
}

// Printed as soon as it is known: the test transcription that follows can take a while.
void report(const doctor::Check& check) {
    std::string line = check.ok ? "ok    " : check.required ? "ERRO  " : "aviso ";
    line += check.piece + ": " + check.detail;
    if (!check.ok && !check.fix.empty())
        line += " — para corrigir: " + check.fix;
    writeAll(STDOUT_FILENO, line + "\n");
}

}  // namespace

std::string runDoctorCommand(const std::vector<std::string>& args) {
    const std::string modelID = modelOption(args);
    const InputBackends backends = chooseInputBackends(SessionEnvironment::fromProcess());
    std::vector<doctor::Check> checks = {
        doctor::speechServer(),
        doctor::model(modelID),
        doctor::ffmpeg(),
        doctor::soundServer(),
    };
    // The X11 display and grab matter only where the X11 backends are the ones in use.
    if (!backends.wayland) {
        checks.push_back(doctor::display());
        checks.push_back(doctor::hotkeyFree(checks.back().ok));
    }
    checks.push_back(doctor::inputBackends(backends));
    checks.push_back(doctor::ollama());
    checks.push_back(doctor::portugueseVoice());
    bool ready = true;
    for (const auto& check : checks) {
        report(check);
        ready = ready && (check.ok || !check.required);
    }
    if (checks[0].ok && checks[1].ok) {
        try {
            writeAll(STDOUT_FILENO, doctor::timeTestDictation(modelID));
        } catch (const std::exception& failure) {
            writeAll(STDOUT_FILENO,
                     std::string("ERRO  Transcrição de teste: ") + failure.what() + "\n");
            ready = false;
        }
    }
    if (!ready)
        fail("o ditado ainda não funciona: corrija os itens marcados com ERRO");
    return "Tudo pronto para ditar.";
}

}  // namespace quenda
