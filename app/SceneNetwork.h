// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The scene's own fetches (the background picture, the editor's font, the
// maker's logo) go through managers with the link's policy: no redirect is
// followed, and each answer has a deadline and a size limit by what it is.

#include "link/transport/GuardedNetwork.h"

#include <QQmlNetworkAccessManagerFactory>

namespace tavrin {

// Background picture: 20 MiB within 60 s; font: 30 MiB within 60 s; anything
// else (the logo): 4 MiB within 30 s.
transport::Limits sceneLimitsFor(const QUrl& url);

class SceneNetworkFactory : public QQmlNetworkAccessManagerFactory {
public:
    // Called by the engine from any of its threads; each manager lives in the caller's.
    QNetworkAccessManager* create(QObject* parent) override;
};

} // namespace tavrin
