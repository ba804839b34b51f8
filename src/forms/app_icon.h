// SPDX-License-Identifier: Apache-2.0
// The program's icon: an envelope with a blue "1st" stamp, 32 x 32, drawn in
// the colours of the 16-colour palette.

#ifndef FORMS_APP_ICON_H_
#define FORMS_APP_ICON_H_

#include <QIcon>

namespace afc {

// Needs a QGuiApplication.
QIcon AppIcon();

}  // namespace afc

#endif  // FORMS_APP_ICON_H_
