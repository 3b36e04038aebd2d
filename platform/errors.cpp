#include <string>

#include "platform/detail.h"
#include "platform/fs.h"

namespace plat {

namespace {

std::string causeText(detail::Cause cause) {
  using detail::Cause;
  switch (cause) {
    case Cause::NotFound:
      return "o arquivo ou a pasta não existe";
    case Cause::FolderNotFound:
      return "a pasta não existe";
    case Cause::NotAFolder:
      return "uma parte do caminho não é uma pasta";
    case Cause::AccessDenied:
      return "acesso negado";
    case Cause::IsAFolder:
      return "o caminho é uma pasta";
    case Cause::DiskFull:
      return "disco cheio";
    case Cause::ReadOnly:
      return "disco somente para leitura";
    case Cause::AlreadyExists:
      return "o arquivo já existe";
    case Cause::InUse:
      return "o arquivo está em uso";
    case Cause::NameTooLong:
      return "nome longo demais";
    case Cause::DiskIo:
      return "erro de entrada e saída no disco";
    case Cause::BadName:
      return "nome de arquivo inválido";
  }
  return {};
}

std::string wording(FileAction action, const std::string& path, int systemError,
                    const std::string& target) {
  std::string done;
  switch (action) {
    case FileAction::Read:
      done = "lido";
      break;
    case FileAction::Write:
      done = "gravado";
      break;
    case FileAction::Copy:
      done = "copiado para " + target;
      break;
    case FileAction::Move:
      done = "movido para " + target;
      break;
  }
  const std::string reason = systemError == kSameFile
                                 ? std::string("origem e destino são o mesmo arquivo")
                                 : systemErrorText(systemError);
  return "Arquivo " + path + " não pôde ser " + done + ": " + reason;
}

}  // namespace

std::string systemErrorText(int err) {
  if (const auto cause = detail::causeOf(err)) return causeText(*cause);
  return "erro do sistema " + std::to_string(err);
}

FileError::FileError(FileAction action, std::string path, int systemError, std::string target)
    : std::runtime_error(wording(action, path, systemError, target)),
      action_(action),
      path_(std::move(path)),
      target_(std::move(target)),
      systemError_(systemError) {}

}  // namespace plat
