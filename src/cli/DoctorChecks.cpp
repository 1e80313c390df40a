// The doctor's checks: each asks the component the application itself uses whether its piece
// is there (the engine's program and model search, the sound-server connection, the X11
// hotkey grab and XTest, the Ollama probe, espeak-ng's voice list).

#include "cli/DoctorChecks.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "audio/PulseConnection.h"
#include "audio/PulseServerQueries.h"
#include "cli/DoctorSpeech.h"
#include "engine/TranscriptionEngine.h"
#include "input/HotkeyManagerX11.h"
#include "input/KeystrokeSynthesizerXTest.h"
#include "input/WaylandTools.h"
#include "llm/OllamaClient.h"

namespace quenda::doctor {

namespace fs = std::filesystem;

namespace {

Check named(std::string piece) {
    Check check;
    check.piece = std::move(piece);
    return check;
}

}  // namespace

std::string formatSize(std::uintmax_t bytes) {
    char text[32];
    if (bytes >= 1000ull * 1000 * 1000)
        std::snprintf(text, sizeof text, "%.1f GB", static_cast<double>(bytes) / 1e9);
    else
        std::snprintf(text, sizeof text, "%.0f MB", static_cast<double>(bytes) / 1e6);
    std::string result = text;
    for (char& c : result) {
        if (c == '.')
            c = ',';
    }
    return result;
}

Check speechServer() {
    Check check = named("Servidor de fala (whisper-server)");
    auto program = TranscriptionEngine::findExecutable("whisper-server");
    if (!program) {
        check.detail = "não encontrado";
        check.fix = "scripts/install-whisper-server";
        return check;
    }
    check.ok = true;
    check.detail = program->string();
    // The server does not tell its version; the installer leaves it beside the program.
    std::ifstream stamp(program->parent_path() / "whisper-server.build");
    if (std::string version; std::getline(stamp, version) && !version.empty())
        check.detail += " (" + version + ")";
    return check;
}

Check model(const std::string& modelID) {
    Check check = named("Modelo selecionado (" + modelID + ")");
    auto info = TranscriptionEngine::modelInfo(modelID);
    if (!info) {
        check.detail = "modelo desconhecido";
        check.fix = "escolha large-v3-turbo ou base (--model <id>)";
        return check;
    }
    if (!TranscriptionEngine::isModelInstalled(modelID)) {
        check.detail = "não instalado";
        check.fix = "baixe-o no aplicativo, ou: curl -L -o '" +
                    (TranscriptionEngine::modelsDirectory() / info->file).string() + "' " +
                    info->url;
        return check;
    }
    std::error_code error;
    const auto path = TranscriptionEngine::modelPath(modelID);
    check.ok = true;
    check.detail = path.string() + " (" + formatSize(fs::file_size(path, error)) + ")";
    return check;
}

Check ffmpeg() {
    Check check = named("ffmpeg (arquivos de áudio)");
    check.required = false;
    if (auto program = TranscriptionEngine::findExecutable("ffmpeg")) {
        check.ok = true;
        check.detail = program->string();
    } else {
        check.detail = "não encontrado; só arquivos .wav de 16 kHz seriam transcritos";
        check.fix = "sudo apt install ffmpeg";
    }
    return check;
}

Check soundServer() {
    Check check = named("Servidor de som (PulseAudio/PipeWire)");
    try {
        audio::PulseConnection connection("Quenda doctor");
        const auto defaults = audio::queries::defaults(connection);
        if (defaults.source.empty()) {
            check.detail = "sem fonte de entrada padrão (microfone)";
            check.fix = "pactl set-default-source <fonte> (veja pactl list short sources)";
            return check;
        }
        check.ok = true;
        check.detail = "fonte padrão " + defaults.source;
    } catch (const std::exception&) {
        check.detail = "inacessível";
        check.fix = "systemctl --user start pipewire-pulse (ou pulseaudio --start)";
    }
    return check;
}

Check display() {
    Check check = named("Tela X11 com XTest (colar o texto)");
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) {
        check.detail = "DISPLAY não definido";
        check.fix = "rode numa sessão X11 (ou exporte DISPLAY=:0)";
        return check;
    }
    if (!KeystrokeSynthesizerXTest().isTrusted()) {
        check.detail = std::string("tela ") + name + " inacessível ou sem a extensão XTest";
        check.fix = "verifique DISPLAY e xdpyinfo -ext XTEST";
        return check;
    }
    check.ok = true;
    check.detail = std::string("tela ") + name;
    return check;
}

Check hotkeyFree(bool displayReachable) {
    const Hotkey hotkey = Hotkey::pushToTalk();
    Check check = named("Atalho " + hotkey.display());
    if (!displayReachable) {
        check.detail = "sem tela X11 não há como registrá-lo";
        return check;
    }
    HotkeyManagerX11 backend;
    if (!backend.install(
            hotkey, [](KeyEventType, int64_t, uint64_t) { return HotkeyDecision{}; }, nullptr)) {
        check.detail = "já usado por outro programa";
        check.fix = "libere " + hotkey.display() + " no programa que o usa";
        return check;
    }
    backend.remove();
    check.ok = true;
    check.detail = "livre";
    return check;
}

Check inputBackends(const InputBackends& chosen) {
    Check check = named("Atalho e colagem");
    check.required = false;  // without them the window still dictates and copies
    const char* why = chosen.reason == "backend.reason.kde"       ? "Wayland no KDE Plasma"
                      : chosen.reason == "backend.reason.gnome"   ? "Wayland no GNOME"
                      : chosen.reason == "backend.reason.wlroots" ? "Wayland num compositor wlroots"
                      : chosen.wayland                            ? "Wayland"
                                                                  : "sessão X11";
    check.detail = std::string(why) + ": atalho por " + std::string(triggerName(chosen.trigger)) +
                   ", colagem por " + std::string(pasteName(chosen.paste));
    if (chosen.trigger == TriggerBackend::commands)
        check.detail += " (associe quenda --ptt-press ao apertar e quenda --ptt-release ao soltar)";
    std::string missing;
    if (chosen.clipboardThroughWlCopy && !findProgram("wl-copy"))
        missing = "wl-clipboard";
    if (chosen.paste == PasteBackend::wtype && !findProgram("wtype"))
        missing += missing.empty() ? "wtype" : " wtype";
    check.ok = missing.empty();
    if (!check.ok) {
        check.detail += "; faltam programas";
        check.fix = "sudo apt install " + missing;
    }
    return check;
}

Check ollama() {
    Check check = named("Ollama (resumos e tradução, opcional)");
    check.required = false;
    check.ok = OllamaClient::isAvailable();
    check.detail = check.ok ? "respondendo em 127.0.0.1:11434" : "não responde";
    if (!check.ok)
        check.fix = "ollama serve";
    return check;
}

Check portugueseVoice() {
    Check check = named("Voz portuguesa do espeak-ng (tradução falada)");
    check.required = false;
    check.ok = portugueseVoiceAvailable();
    check.detail = check.ok ? "pt-br" : "espeak-ng ou a voz pt-br ausente";
    if (!check.ok)
        check.fix = "sudo apt install espeak-ng espeak-ng-data";
    return check;
}

}  // namespace quenda::doctor
