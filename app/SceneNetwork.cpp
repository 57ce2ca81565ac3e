// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SceneNetwork.h"

#include "link/protocol/Protocol.h"

namespace tavrin {

namespace {

constexpr int kPictureAndFontTimeoutMs = 60000;
constexpr int kOtherTimeoutMs = 30000;
constexpr qint64 kMaxOtherBytes = 4 * 1024 * 1024;

} // namespace

transport::Limits sceneLimitsFor(const QUrl& url) {
    const QString path = url.path();
    if (path == QLatin1String(protocol::kBgPicturePath))
        return {kPictureAndFontTimeoutMs, protocol::kMaxBackgroundBytes};
    if (path == QLatin1String(protocol::kFontsPath))
        return {kPictureAndFontTimeoutMs, protocol::kMaxFontBytes};
    return {kOtherTimeoutMs, kMaxOtherBytes};
}

QNetworkAccessManager* SceneNetworkFactory::create(QObject* parent) {
    return new transport::GuardedNetworkAccessManager(&sceneLimitsFor, parent);
}

} // namespace tavrin
