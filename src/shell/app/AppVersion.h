#pragma once
#include <QString>

// The version shown in the footers and the settings page and sent by the update check.
namespace AppVersion {
QString version();  // "0.6.12"
QString build();    // "18"
}
