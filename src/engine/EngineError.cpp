#include "engine/EngineError.h"

namespace quenda {

namespace {

std::string describe(EngineError::Kind kind, const std::string& payload) {
    using Kind = EngineError::Kind;
    switch (kind) {
        case Kind::modelNotFound:
            return "Modelo ainda não baixado: " + payload + ". Use o botão de download na janela.";
        case Kind::unsupportedFile:
            return "Arquivo não suportado: " + payload +
                   ". Use .opus, .ogg, .m4a, .mp3, .wav, .aiff ou .flac.";
        case Kind::needsFFmpeg:
            return "Para " + payload +
                   " instale o ffmpeg (Debian/Ubuntu: sudo apt install ffmpeg; Fedora: sudo dnf "
                   "install ffmpeg-free) ou converta para .m4a/.mp3/.wav.";
        case Kind::conversionFailed:
            return "Falha ao converter áudio: " + payload;
        case Kind::serverFailed:
            return "Falha ao iniciar o motor Whisper: " + payload;
        case Kind::transcriptionFailed:
            return "Falha na transcrição: " + payload;
        case Kind::whisperNotFound:
            return "Motor Whisper não encontrado na instalação do Quenda.";
    }
    return payload;
}

}  // namespace

EngineError::EngineError(Kind kind, std::string payload)
    : kind_(kind), payload_(std::move(payload)), description_(describe(kind_, payload_)) {}

}  // namespace quenda
