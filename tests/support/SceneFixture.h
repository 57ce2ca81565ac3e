// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Loads the real scene for a test: fresh settings in a temporary folder, the
// maker's website pointed at a closed loopback port, and a network guard that
// keeps the scene's own fetches (images, fonts) on loopback.

#include <QLocale>
#include <QPointF>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>

class FakeTransport;
class QJsonValue;

namespace tavrin {
struct LanguageChoice;
class Attrs;
class PhoneLink;
class History;
} // namespace tavrin

class SceneFixture {
public:
    // Settings live in `settingsDir` (a second fixture on the same folder is a second start).
    explicit SceneFixture(const QString& settingsDir);
    ~SceneFixture();

    bool isLoaded() const { return m_window != nullptr; }
    QQuickWindow* window() const { return m_window; }
    QQmlApplicationEngine& engine() { return *m_engine; }

    QObject* find(const QString& objectName) const;
    QQuickItem* item(const QString& objectName) const;
    tavrin::Attrs* attrs() const;
    tavrin::PhoneLink* link() const;
    tavrin::History* history() const;
    QObject* settings() const { return find(QStringLiteral("settings")); }
    QObject* textEdit() const { return find(QStringLiteral("textEdit")); }

    // Calls a function of the window (the scene's named operations).
    QVariant call(const char* function, const QVariantList& args = {});

    // Real input events.
    void click(QQuickItem* item, QPointF at = QPointF(-1, -1));
    void typeText(const QString& text);
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    // Presses the left button at `from` in `target`, moves in steps to `to` (in
    // the target's coordinates, possibly outside it) and releases there.
    void drag(QQuickItem* target, QPointF from, QPointF to);

    // Waits until the window is exposed and active, so that keys reach it.
    bool activate();

    // An in-process phone with note `id` open holding `content`, answering
    // everything at once; true once the note is loaded in the editor, false
    // when the link refused it (or nothing came within seconds).
    bool openNote(const QJsonValue& id, const QString& content);
    FakeTransport* phone() const { return m_phone.get(); }

    // Destroys the scene (the settings store writes what it has not yet written).
    void close();

private:
    std::unique_ptr<FakeTransport> m_phone;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
};

// Prepares the process once: application identity, QML types, the maker's
// website on a closed loopback port with the update check on, and a Chinese
// locale, so that the scene shows its source texts whatever the machine's
// languages.
void initSceneTestProcess();

// Makes `locale` the default and installs the translations it asks for; scenes
// loaded from then on speak its language.
tavrin::LanguageChoice setSceneTestLocale(const QLocale& locale);
