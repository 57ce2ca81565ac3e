// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The maker's website: the logo, the update check and the download page.

#include <QString>
#include <QUrl>

namespace tavrin::maker {

// The host the build was configured with (TAVRIN_WEB_HOST).
QString host();
// Tests only: points every maker URL at a server of the test's own.
void setHostForTesting(const QString& hostAndPort);

// Whether the program contacts the site at all: the CMake option TAVRIN_UPDATE_CHECK. Without
// it there is no update check and no logo from the site.
bool isContacted();
// Tests only: what a build with the other setting of the option does.
void setContactedForTesting(bool contacted);

QUrl logoUrl();          // https://<host>/Morvane/image/logo_196.png; empty when not contacted
QString downloadPage();  // https://<host>/Morvane/
QUrl checkUpdateUrl(bool byHand, int versionCode);

} // namespace tavrin::maker
