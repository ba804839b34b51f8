// SPDX-License-Identifier: Apache-2.0
#include "forms/app_icon.h"

#include <QPixmap>

#include "forms/app_icon.xpm"

namespace afc {

QIcon AppIcon() { return QIcon(QPixmap(kIcon)); }

}  // namespace afc
