// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The scene's persistent settings: the remembered address and the editor's
// appearance, under the keys input, fontSize, padding, fontFamily, bgColor and
// color at the top level of the application's per-user settings, as ints and
// texts. Every value is checked as it is read from the file (which may have
// been edited by hand) and as the scene writes it: what is out of range reads
// as the nearest value in range, what is not valid at all as the default.

#include <QObject>
#include <QQmlParserStatus>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class QSettings;

namespace tavrin {

namespace settings {

inline constexpr int kDefaultFontSize = 15;
// What the user can pick: the slider goes from 0, the font dialog up to 72 pt (96 px).
inline constexpr int kMinChosenFontSize = 0;
inline constexpr int kMaxFontSize = 96;
// A stored size below this is unreadable; it reads as this. A 0 that the slider
// wrote shows as the smallest size in this run and reads as 8 at the next start.
inline constexpr int kMinStoredFontSize = 8;
inline constexpr int kDefaultPadding = 10;
inline constexpr int kMinPadding = 0;
inline constexpr int kMaxPadding = 40;
inline const QString kDefaultBgColor = QStringLiteral("#00000000");
inline const QString kDefaultColor = QStringLiteral("#444444");

// A stored value as a whole number: an int, or a text of a finite decimal
// number (rounded to the nearest); nullopt for anything else. Never wraps:
// "2147483648" is a large number, not a negative one.
std::optional<double> storedNumber(const QVariant& stored);
// A stored value as text; a list (an unquoted comma in the file) is joined again.
QString storedText(const QVariant& stored);

int fontSizeFromStore(const QVariant& stored);
int chosenFontSize(int chosen);
int paddingFromStore(const QVariant& stored);
int chosenPadding(int chosen);
// The colour text when it names a colour ("#rrggbb", "#aarrggbb", a colour name), else `fallback`.
QString colour(const QVariant& value, const QString& fallback);
// A stored address, trimmed, when it is a valid one; empty otherwise.
QString addressFromStore(const QVariant& stored);

} // namespace settings

class SettingsStore : public QObject, public QQmlParserStatus {
    Q_OBJECT
    Q_INTERFACES(QQmlParserStatus)
    Q_PROPERTY(int fontSize READ fontSize WRITE setFontSize NOTIFY fontSizeChanged)
    Q_PROPERTY(int padding READ padding WRITE setPadding NOTIFY paddingChanged)
    Q_PROPERTY(QString fontFamily READ fontFamily WRITE setFontFamily NOTIFY fontFamilyChanged)
    Q_PROPERTY(QString bgColor READ bgColor WRITE setBgColor NOTIFY bgColorChanged)
    Q_PROPERTY(QString color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(QString input READ input WRITE setInput NOTIFY inputChanged)

public:
    explicit SettingsStore(QObject* parent = nullptr);
    ~SettingsStore() override;

    int fontSize() const { return m_fontSize; }
    int padding() const { return m_padding; }
    QString fontFamily() const { return m_fontFamily; }
    QString bgColor() const { return m_bgColor; }
    QString color() const { return m_color; }
    QString input() const { return m_input; }

    // Each writes the value checked; a value equal to the one held changes nothing.
    void setFontSize(int size);
    void setPadding(int padding);
    void setFontFamily(const QString& family);
    void setBgColor(const QString& colour);
    void setColor(const QString& colour);
    // Only a valid address is taken: the store keeps the last one.
    void setInput(const QString& address);

    // Takes the stored values, checked, in the order of the properties above,
    // and writes back those that read as something else. Once the scene has
    // built everything, so that readers see the values change (the address
    // field gets the remembered address then); from then on every change is
    // stored.
    void load();
    bool isLoaded() const { return m_settings != nullptr; }

    void classBegin() override {}
    void componentComplete() override { load(); }

signals:
    void fontSizeChanged();
    void paddingChanged();
    void fontFamilyChanged();
    void bgColorChanged();
    void colorChanged();
    void inputChanged();

private:
    template <typename T>
    void update(T& member, const T& value, const char* key, void (SettingsStore::*changed)());

    std::unique_ptr<QSettings> m_settings;
    int m_fontSize = settings::kDefaultFontSize;
    int m_padding = settings::kDefaultPadding;
    QString m_fontFamily;
    QString m_bgColor = settings::kDefaultBgColor;
    QString m_color = settings::kDefaultColor;
    QString m_input;
};

} // namespace tavrin
