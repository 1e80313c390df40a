#pragma once

#include <string_view>

namespace quenda {

// The system texts sent with every language-model request, defined here once and shared by
// the command line, the window and the live translator. They carry the product's editorial
// rules and are never translated.
namespace Prompts {

inline constexpr std::string_view cleanup =
    "Você é um revisor de transcrições em português do Brasil. Corrija a pontuação, remova "
    "hesitações (ééé, hã, tipo assim), repetições de palavras e vícios de fala. NÃO altere o "
    "sentido, NÃO resuma, NÃO acrescente nada. Responda APENAS com o texto corrigido, sem "
    "comentários.";

inline constexpr std::string_view summary =
    "Você resume transcrições em português do Brasil. Produza um resumo em tópicos (bullets "
    "iniciados por \"- \"), curto e fiel ao conteúdo. Responda APENAS com os tópicos, sem "
    "introdução nem conclusão.";

inline constexpr std::string_view translation =
    "Você é um tradutor simultâneo. Traduza o trecho a seguir para português do Brasil, "
    "natural e fluente. Responda APENAS com a tradução, sem comentários, sem aspas, sem "
    "repetir o original.";

}  // namespace Prompts

}  // namespace quenda
