#include "l10n/L10n.h"

#include <array>
#include <unordered_map>

#include "platform/Defaults.h"

namespace quenda::L10n {

namespace {

// Texts in the order of AppLanguage::allCases(); nullptr where a language has no text.
using Texts = std::array<const char*, 3>;
using Table = std::unordered_map<std::string_view, Texts>;

// Built on first use (a function-local static, so concurrent first callers wait for one
// construction) and never changed afterwards.
const Table& table() {
    static const Table entries = {
        {"window.title",
         {"Quenda — Transcrição", "Quenda — Transcription", "Quenda — Transcripción"}},
        {"app.language", {"Idioma do aplicativo", "App language", "Idioma de la aplicación"}},
        {"drop.title",
         {"Arraste áudio aqui ou clique para escolher", "Drag audio here or click to choose",
          "Arrastra el audio aquí o haz clic para elegir"}},
        {"model", {"Modelo", "Model", "Modelo"}},
        {"model.large-v3-turbo", {"Padrão", "Default", "Estándar"}},
        {"model.base", {"Básico (mais rápido)", "Basic (faster)", "Básico (más rápido)"}},
        {"model.missing",
         {"Este modelo ainda não foi baixado (%d MB, uma única vez).",
          "This model hasn't been downloaded yet (%d MB, one time only).",
          "Este modelo aún no se ha descargado (%d MB, solo una vez)."}},
        {"model.download", {"Baixar modelo agora", "Download model now", "Descargar modelo ahora"}},
        {"model.downloading",
         {"Baixando modelo… %d%%", "Downloading model… %d%%", "Descargando modelo… %d%%"}},
        {"model.cancel", {"Cancelar download", "Cancel download", "Cancelar descarga"}},
        {"clean.toggle",
         {"Limpar texto com llama3.1 (Ollama)", "Clean text with llama3.1 (Ollama)",
          "Limpiar texto con llama3.1 (Ollama)"}},
        {"fast.toggle", {"Modo rápido", "Fast mode", "Modo rápido"}},
        {"fast.help",
         {"Transcreve falas curtas mais rápido, mas pode ser menos preciso.",
          "Transcribes short speech faster, but may be less accurate.",
          "Transcribe las frases cortas más rápido, pero puede ser menos preciso."}},
        {"hotkey.label", {"Segurar para falar:", "Hold to talk:", "Mantén para hablar:"}},
        // Linux wording: the push-to-talk keys are Ctrl + Alt + D here.
        {"hotkey.keys", {"(Ctrl + Alt + D)", "(Ctrl + Alt + D)", "(Ctrl + Alt + D)"}},
        // Linux wording (Ctrl + Alt + D).
        {"hotkey.hint",
         {"Mantenha as teclas Ctrl + Alt + D pressionadas, fale e solte. O texto limpo é colado "
          "onde o cursor estiver, no app em foco.",
          "Hold Ctrl + Alt + D, speak, then release. The clean text is pasted at the cursor in the "
          "focused app.",
          "Mantén pulsadas Ctrl + Alt + D, habla y suelta. El texto limpio se pega donde esté el "
          "cursor, en la app en foco."}},
        {"hotkey.recording", {"gravando…", "recording…", "grabando…"}},
        // Linux wording: the global shortcut and the paste need X11 (or XWayland) with XTest;
        // there is no permission pane to send the user to.
        {"accessibility.warning",
         {"⚠️ O atalho global e o colar automático precisam de uma sessão X11 (XWayland no "
          "Wayland) com a extensão XTest.",
          "⚠️ The global shortcut and auto-paste need an X11 session (XWayland on Wayland) "
          "with "
          "the XTest extension.",
          "⚠️ El atajo global y el pegado automático necesitan una sesión X11 (XWayland en "
          "Wayland) con la extensión XTest."}},
        {"hotkey.taken",
         {"⚠️ Outro programa já usa Ctrl + Alt + D, então o atalho global não funciona. "
          "Libere o atalho nesse programa (ou nas configurações de teclado do sistema) e "
          "reinicie o Quenda, ou associe uma tecla sua ao comando quenda --toggle.",
          "⚠️ Another program already uses Ctrl + Alt + D, so the global shortcut does not "
          "work. Free it in that program (or in the system's keyboard settings) and restart "
          "Quenda, or bind a key of your own to the command quenda --toggle.",
          "⚠️ Otro programa ya usa Ctrl + Alt + D, así que el atajo global no funciona. "
          "Libéralo en ese programa (o en los ajustes de teclado del sistema) y reinicia "
          "Quenda, o asigna una tecla propia al comando quenda --toggle."}},
        {"live.title",
         {"Tradução ao vivo (vídeos e aulas)", "Live translation (videos & lectures)",
          "Traducción en vivo (vídeos y clases)"}},
        {"live.subtitle",
         {"Reproduza um vídeo (YouTube, aula, reunião) em inglês ou espanhol e ouça a dublagem em "
          "português, em tempo real. Tudo processado no seu computador.",
          "Play a video (YouTube, lecture, meeting) in English or Spanish and hear it dubbed in "
          "Portuguese, in real time. Everything runs on your computer.",
          "Reproduce un vídeo (YouTube, clase, reunión) en inglés o español y escucha el doblaje "
          "en portugués, en tiempo real. Todo se procesa en tu ordenador."}},
        {"live.source", {"Idioma do vídeo", "Video language", "Idioma del vídeo"}},
        {"live.source.en", {"Inglês", "English", "Inglés"}},
        {"live.source.es", {"Espanhol", "Spanish", "Español"}},
        {"live.source.auto", {"Detectar idioma", "Detect language", "Detectar idioma"}},
        {"live.speak",
         {"Falar em português (dublagem por voz)", "Speak in Portuguese (voice dubbing)",
          "Hablar en portugués (doblaje por voz)"}},
        {"live.mute",
         {"Silenciar o áudio original (ouvir só a dublagem)",
          "Mute the original audio (hear only the dubbing)",
          "Silenciar el audio original (oír solo el doblaje)"}},
        {"live.start",
         {"▶ Iniciar tradução ao vivo", "▶ Start live translation",
          "▶ Iniciar traducción en vivo"}},
        {"live.stop",
         {"■ Parar tradução ao vivo", "■ Stop live translation", "■ Detener traducción en vivo"}},
        // Linux wording: system audio comes from the sound server, not a screen recording.
        {"live.permissions",
         {"Requer PulseAudio ou PipeWire (para capturar o áudio do sistema) e o Ollama rodando.",
          "Requires PulseAudio or PipeWire (to capture system audio) and Ollama running.",
          "Requiere PulseAudio o PipeWire (para capturar el audio del sistema) y Ollama en "
          "ejecución."}},
        {"last.title", {"Última transcrição:", "Last transcription:", "Última transcripción:"}},
        {"summary.title", {"Resumo em tópicos:", "Bullet-point summary:", "Resumen en puntos:"}},
        {"summary.expand", {"Expandir", "Expand", "Expandir"}},
        {"summary.collapse", {"Recolher", "Collapse", "Contraer"}},
        {"summary.copyall", {"Copiar tudo", "Copy all", "Copiar todo"}},
        {"btn.transcribe", {"Transcrever arquivo…", "Transcribe file…", "Transcribir archivo…"}},
        {"btn.summarize",
         {"Resumir último texto em tópicos", "Summarize last text in bullets",
          "Resumir el último texto en puntos"}},
        {"btn.copylast",
         {"Copiar última transcrição novamente", "Copy last transcription again",
          "Copiar la última transcripción de nuevo"}},
        {"btn.quit", {"Sair do Quenda", "Quit Quenda", "Salir de Quenda"}},
        {"status.ready", {"Pronto", "Ready", "Listo"}},
        {"status.transcribing", {"Transcrevendo…", "Transcribing…", "Transcribiendo…"}},
        {"status.cleaning",
         {"Limpando texto com llama3.1…", "Cleaning text with llama3.1…",
          "Limpiando texto con llama3.1…"}},
        {"status.pasted",
         {"Texto colado no cursor ✓", "Text pasted at cursor ✓", "Texto pegado en el cursor ✓"}},
        // Linux wording: pasting needs X11 with XTest, not an Accessibility permission.
        {"status.copied.noax",
         {"Copiado: cole com Ctrl+V (o colar automático não está disponível nesta sessão)",
          "Copied: paste with Ctrl+V (auto-paste is not available in this session)",
          "Copiado: pega con Ctrl+V (el pegado automático no está disponible en esta sesión)"}},
        {"status.done.copied",
         {"Transcrição concluída ✓ (copiada)", "Transcription done ✓ (copied)",
          "Transcripción lista ✓ (copiada)"}},
        {"status.summarizing",
         {"Resumindo em tópicos com llama3.1…", "Summarizing in bullets with llama3.1…",
          "Resumiendo en puntos con llama3.1…"}},
        {"status.summary.done",
         {"Resumo pronto ✓ (copiado)", "Summary ready ✓ (copied)", "Resumen listo ✓ (copiado)"}},
        {"status.summary.copied", {"Resumo copiado ✓", "Summary copied ✓", "Resumen copiado ✓"}},
        {"status.copied.again",
         {"Última transcrição copiada ✓", "Last transcription copied ✓",
          "Última transcripción copiada ✓"}},
        {"status.nothing.summarize",
         {"Nada para resumir ainda", "Nothing to summarize yet", "Nada que resumir todavía"}},
        {"status.nothing.copy",
         {"Nenhuma transcrição ainda", "No transcription yet", "Ninguna transcripción todavía"}},
        {"status.model.needed",
         {"Baixe o modelo antes de usar", "Download the model before using",
          "Descarga el modelo antes de usar"}},
        {"status.model.downloading",
         {"Baixando modelo…", "Downloading model…", "Descargando modelo…"}},
        {"status.model.done", {"Modelo baixado ✓", "Model downloaded ✓", "Modelo descargado ✓"}},
        // Linux wording: the microphone is reached through the sound server; there is no
        // privacy pane.
        {"status.nothing.heard",
         {"Nada foi ouvido na gravação", "Nothing was heard in the recording",
          "No se oyó nada en la grabación"}},
        {"status.mic.denied",
         {"Sem acesso ao microfone (verifique o PulseAudio ou PipeWire)",
          "No microphone access (check PulseAudio or PipeWire)",
          "Sin acceso al micrófono (revisa PulseAudio o PipeWire)"}},
        {"status.recording.hint",
         {"Gravando… solte o atalho para transcrever",
          "Recording… release the shortcut to transcribe",
          "Grabando… suelta el atajo para transcribir"}},
        {"live.status.active",
         {"Tradução ao vivo ativa — reproduza o vídeo", "Live translation active — play the video",
          "Traducción en vivo activa — reproduce el vídeo"}},
        {"live.status.muted",
         {"Tradução ao vivo ativa — áudio original silenciado",
          "Live translation active — original audio muted",
          "Traducción en vivo activa — audio original silenciado"}},
        {"live.status.stopped",
         {"Tradução ao vivo encerrada", "Live translation stopped", "Traducción en vivo detenida"}},
        {"live.status.preparing",
         {"Preparando o motor…", "Preparing the engine…", "Preparando el motor…"}},
        {"menu.edit", {"Edição", "Edit", "Edición"}},
        {"menu.undo", {"Desfazer", "Undo", "Deshacer"}},
        {"menu.redo", {"Refazer", "Redo", "Rehacer"}},
        {"menu.cut", {"Recortar", "Cut", "Cortar"}},
        {"menu.copy", {"Copiar", "Copy", "Copiar"}},
        {"menu.paste", {"Colar", "Paste", "Pegar"}},
        {"menu.selectall", {"Selecionar Tudo", "Select All", "Seleccionar Todo"}},
        {"menu.hide", {"Ocultar Quenda", "Hide Quenda", "Ocultar Quenda"}},
        {"menu.autostart",
         {"Iniciar ao entrar na sessão", "Start at Login", "Iniciar al abrir la sesión"}},
        {"menu.quit", {"Sair do Quenda", "Quit Quenda", "Salir de Quenda"}},
        {"tray.show", {"Mostrar Quenda", "Show Quenda", "Mostrar Quenda"}},
        {"tray.hide", {"Ocultar Quenda", "Hide Quenda", "Ocultar Quenda"}},
        {"tray.live.start",
         {"Iniciar tradução ao vivo", "Start live translation", "Iniciar traducción en vivo"}},
        {"tray.live.stop",
         {"Parar tradução ao vivo", "Stop live translation", "Detener traducción en vivo"}},
        // The push-to-talk and paste backends in use, under the shortcut ("%1" the trigger,
        // "%2" the paste, "%3" why: one of the backend.reason texts).
        {"backend.inuse",
         {"Atalho: %1 · Colar: %2 — %3", "Shortcut: %1 · Paste: %2 — %3",
          "Atajo: %1 · Pegar: %2 — %3"}},
        {"backend.reason.x11", {"sessão X11", "X11 session", "sesión X11"}},
        {"backend.reason.kde",
         {"Wayland no KDE Plasma, pelos portais do desktop",
          "Wayland on KDE Plasma, through the desktop portals",
          "Wayland en KDE Plasma, mediante los portales del escritorio"}},
        {"backend.reason.gnome",
         {"Wayland no GNOME, pelos portais do desktop (atalho global a partir do GNOME 48)",
          "Wayland on GNOME, through the desktop portals (global shortcut from GNOME 48 on)",
          "Wayland en GNOME, mediante los portales del escritorio (atajo global desde GNOME 48)"}},
        {"backend.reason.wlroots",
         {"Wayland num compositor wlroots (sway, Hyprland): sem portal de atalhos",
          "Wayland on a wlroots compositor (sway, Hyprland): no shortcuts portal",
          "Wayland en un compositor wlroots (sway, Hyprland): sin portal de atajos"}},
        {"backend.reason.wayland",
         {"Wayland, pelos portais do desktop", "Wayland, through the desktop portals",
          "Wayland, mediante los portales del escritorio"}},
        {"backend.bind.pressrelease",
         {"Associe a tecla nas configurações do desktop: ao apertar, quenda --ptt-press; ao "
          "soltar, quenda --ptt-release (no sway: bindsym --release). Onde só se associa o "
          "apertar: quenda --toggle.",
          "Bind the key in your desktop's settings: on press, quenda --ptt-press; on release, "
          "quenda --ptt-release (sway: bindsym --release). Where only a press can be bound: "
          "quenda --toggle.",
          "Asocia la tecla en la configuración del escritorio: al pulsar, quenda --ptt-press; "
          "al soltar, quenda --ptt-release (en sway: bindsym --release). Donde solo se asocia "
          "la pulsación: quenda --toggle."}},
        {"backend.bind.toggle",
         {"O desktop não ofereceu o atalho global: crie nas configurações do sistema um atalho "
          "de teclado que rode quenda --toggle (aperte para gravar, aperte de novo para parar).",
          "The desktop did not grant the global shortcut: create a keyboard shortcut in the "
          "system settings that runs quenda --toggle (press to record, press again to stop).",
          "El escritorio no concedió el atajo global: crea en la configuración del sistema un "
          "atajo de teclado que ejecute quenda --toggle (pulsa para grabar, pulsa otra vez para "
          "parar)."}},
        // What the desktop shows beside the push-to-talk shortcut in its settings.
        {"backend.portal.description",
         {"Segurar para falar (Quenda)", "Hold to talk (Quenda)", "Mantén para hablar (Quenda)"}},
        {"tray.quit", {"Sair do Quenda", "Quit Quenda", "Salir de Quenda"}},
        {"tray.recording", {"Quenda — gravando…", "Quenda — recording…", "Quenda — grabando…"}},
        {"tray.transcribing",
         {"Quenda — transcrevendo…", "Quenda — transcribing…", "Quenda — transcribiendo…"}},
    };
    return entries;
}

}  // namespace

std::string t(std::string_view key) {
    const Table& entries = table();
    auto entry = entries.find(key);
    if (entry == entries.end())
        return std::string(key);
    const Texts& texts = entry->second;
    if (const char* text = texts[static_cast<size_t>(current().value())])
        return text;
    if (const char* text = texts[AppLanguage::pt])
        return text;
    return std::string(key);
}

AppLanguage current() {
    const auto stored = standardDefaults()->text(kLanguageKey);
    return AppLanguage::fromRawValue(stored.value_or("")).value_or(AppLanguage::pt);
}

void setCurrent(AppLanguage language) {
    standardDefaults()->setText(kLanguageKey, language.rawValue());
}

}  // namespace quenda::L10n
