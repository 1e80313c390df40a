#include "download/DownloadFailure.h"

#include <cerrno>

namespace quenda {

namespace {

std::string fileErrorText(std::error_code error) {
    if (error.category() == std::generic_category() || error.category() == std::system_category()) {
        switch (error.value()) {
            case ENOSPC:
                return "o disco está cheio";
            case EDQUOT:
                return "a cota de disco acabou";
            case EACCES:
            case EPERM:
                return "sem permissão de escrita";
            case EROFS:
                return "o disco é somente leitura";
            case ENOENT:
                return "a pasta não existe";
            case ENOTDIR:
                return "o caminho não é uma pasta";
            case EISDIR:
                return "já existe uma pasta com esse nome";
            default:
                break;
        }
    }
    return "erro do sistema " + std::to_string(error.value()) + " (" + error.message() + ")";
}

}  // namespace

DownloadFailure DownloadFailure::of(Kind kind) {
    DownloadFailure failure;
    failure.kind = kind;
    return failure;
}

DownloadFailure DownloadFailure::status(long code) {
    DownloadFailure failure = of(Kind::httpStatus);
    failure.httpStatus = code;
    return failure;
}

DownloadFailure DownloadFailure::writing(std::filesystem::path path, std::error_code error) {
    DownloadFailure failure = of(Kind::cannotWrite);
    failure.path = std::move(path);
    failure.fileError = error;
    return failure;
}

std::string DownloadFailure::description() const {
    switch (kind) {
        case Kind::cancelled:
            return "O download foi cancelado.";
        case Kind::invalidAddress:
            return "O endereço de download do modelo é inválido.";
        case Kind::hostNotFound:
            return "Servidor de download não encontrado. Verifique a conexão com a internet.";
        case Kind::connectionRefused:
            return "O servidor de download recusou a conexão.";
        case Kind::cannotConnect:
            return "Não foi possível conectar ao servidor de download. Verifique a conexão com "
                   "a internet.";
        case Kind::connectionLost:
            return "A conexão caiu antes de o download terminar.";
        case Kind::stalled:
            return "O servidor de download parou de responder.";
        case Kind::secureConnection:
            return "Não foi possível estabelecer uma conexão segura com o servidor de download.";
        case Kind::tooManyRedirects:
            return "O servidor de download redirecionou a transferência vezes demais.";
        case Kind::httpStatus:
            if (httpStatus == 404)
                return "O arquivo do modelo não foi encontrado no servidor (erro HTTP 404).";
            if (httpStatus == 403)
                return "O servidor recusou o acesso ao arquivo do modelo (erro HTTP 403).";
            return "O servidor de download respondeu com o erro HTTP " +
                   std::to_string(httpStatus) + ".";
        case Kind::emptyBody:
            return "O servidor de download não enviou nenhum dado.";
        case Kind::cannotWrite:
            return "Não foi possível gravar o modelo em " + path.string() + ": " +
                   fileErrorText(fileError) + ".";
        case Kind::other:
            break;
    }
    return "Falha no download (" + detail + ").";
}

}  // namespace quenda
