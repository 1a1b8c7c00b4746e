#include "shell/app/AppVersion.h"

#ifndef TESSYN_VERSION
#define TESSYN_VERSION "0.6.12"
#endif
#ifndef TESSYN_BUILD_NUMBER
#define TESSYN_BUILD_NUMBER "18"
#endif

namespace AppVersion {
QString version() { return QStringLiteral(TESSYN_VERSION); }
QString build() { return QStringLiteral(TESSYN_BUILD_NUMBER); }
}
