// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>
#include <functional>

class QQmlApplicationEngine;

namespace tavrin {

// The scene document the program loads.
QUrl sceneUrl();

// Makes the core's types known to the scene under `import Tavrin 1.0`.
void registerQmlTypes();

// The whole program: identity, icon, scene engine, the queued failure watcher,
// the scene load and the event loop. Returns the process exit code: -1 when
// the scene cannot be created. `afterLoad` lets tests look at the engine once
// the scene is loaded and before the event loop runs.
int runApplication(int& argc, char** argv, const QUrl& scene = sceneUrl(),
                   const std::function<void(QQmlApplicationEngine&)>& afterLoad = {});

} // namespace tavrin
