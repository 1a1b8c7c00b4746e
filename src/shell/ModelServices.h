#pragma once
#include "model/AppModel.h"

// What the model asks of the desktop: the folder chooser (Qt's own dialog, not the platform's,
// so it behaves the same everywhere and can be driven in tests) and the file preview (the
// desktop's default application for the file).
namespace ModelServices {
AppModel::Collaborators collaborators();
std::optional<std::string> chooseFolder();
std::optional<std::string> preview(const std::string& path);
}
