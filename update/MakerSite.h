#pragma once

// The maker's website: the logo, the update check and the download page.

#include <QString>
#include <QUrl>

namespace tavrin::maker {

// The host the build was configured with (TAVRIN_WEB_HOST).
QString host();
// Tests only: points every maker URL at a server of the test's own.
void setHostForTesting(const QString& hostAndPort);

QUrl logoUrl();          // https://<host>/Morvane/image/logo_196.png
QString downloadPage();  // https://<host>/Morvane/
QUrl checkUpdateUrl(bool byHand, int versionCode);

} // namespace tavrin::maker
