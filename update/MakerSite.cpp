// SPDX-License-Identifier: GPL-3.0-or-later
#include "update/MakerSite.h"

namespace tavrin::maker {

namespace {

QString& hostOverride() {
    static QString value;
    return value;
}

bool& contacted() {
    static bool value = TAVRIN_UPDATE_CHECK;
    return value;
}

QString siteRoot() {
    return QStringLiteral("https://") + host() + QStringLiteral("/Morvane/");
}

} // namespace

QString host() {
    const QString& overridden = hostOverride();
    return overridden.isEmpty() ? QStringLiteral(TAVRIN_WEB_HOST) : overridden;
}

void setHostForTesting(const QString& hostAndPort) {
    hostOverride() = hostAndPort;
}

bool isContacted() {
    return contacted();
}

void setContactedForTesting(bool contact) {
    contacted() = contact;
}

QUrl logoUrl() {
    if (!isContacted())
        return {};
    return QUrl(siteRoot() + QStringLiteral("image/logo_196.png"));
}

QString downloadPage() {
    return siteRoot();
}

QUrl checkUpdateUrl(bool byHand, int versionCode) {
    // The query is written out by hand: its keys stand in this order and nothing in it needs
    // percent-encoding, so it reaches the wire exactly as written here.
    const QString text = siteRoot() +
                         QStringLiteral("v1/upgrade/checkUpdate?appType=QuesslyPC&byHand=") +
                         (byHand ? QStringLiteral("true") : QStringLiteral("false")) +
                         QStringLiteral("&versionCode=") + QString::number(versionCode);
    return QUrl(text, QUrl::StrictMode);
}

} // namespace tavrin::maker
