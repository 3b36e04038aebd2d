#include <string>

#include "platform/fs.h"

namespace plat {

namespace {

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

FileError::FileError(FileAction action, std::string path, int systemError, std::string target)
    : std::runtime_error(wording(action, path, systemError, target)),
      action_(action),
      path_(std::move(path)),
      target_(std::move(target)),
      systemError_(systemError) {}

}  // namespace plat
