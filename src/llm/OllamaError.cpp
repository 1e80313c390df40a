#include "llm/OllamaError.h"

namespace quenda {

namespace {

std::string describe(OllamaError::Kind kind, const std::string& payload) {
    switch (kind) {
        case OllamaError::Kind::offline:
            return "Ollama não está rodando. Inicie com: ollama serve (e baixe o modelo com: "
                   "ollama pull llama3.1)";
        case OllamaError::Kind::badResponse:
            return "Resposta inválida do Ollama: " + payload;
    }
    return payload;
}

}  // namespace

OllamaError::OllamaError(Kind kind, std::string payload)
    : kind_(kind), payload_(std::move(payload)), description_(describe(kind_, payload_)) {}

}  // namespace quenda
