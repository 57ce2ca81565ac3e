// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SettingsStore.h"

#include "app/AddressValidator.h"

#include <QColor>
#include <QSettings>
#include <QStringList>
#include <cmath>

namespace tavrin {

namespace settings {

std::optional<double> storedNumber(const QVariant& stored) {
    double number = 0;
    switch (stored.userType()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        number = stored.toDouble();
        break;
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        number = stored.toString().trimmed().toDouble(&ok);
        if (!ok)
            return std::nullopt;
        break;
    }
    default:
        return std::nullopt;
    }
    if (!std::isfinite(number))
        return std::nullopt;
    return std::round(number);
}

QString storedText(const QVariant& stored) {
    if (stored.userType() == QMetaType::QStringList)
        return stored.toStringList().join(QStringLiteral(", "));
    return stored.toString();
}

namespace {

int clamped(double number, int low, int high) {
    return int(qBound(double(low), number, double(high)));
}

} // namespace

int fontSizeFromStore(const QVariant& stored) {
    const std::optional<double> number = storedNumber(stored);
    return number ? clamped(*number, kMinStoredFontSize, kMaxFontSize) : kDefaultFontSize;
}

int chosenFontSize(int chosen) {
    return qBound(kMinChosenFontSize, chosen, kMaxFontSize);
}

int paddingFromStore(const QVariant& stored) {
    const std::optional<double> number = storedNumber(stored);
    return number ? clamped(*number, kMinPadding, kMaxPadding) : kDefaultPadding;
}

int chosenPadding(int chosen) {
    return qBound(kMinPadding, chosen, kMaxPadding);
}

QString colour(const QVariant& value, const QString& fallback) {
    const QString text = storedText(value);
    return QColor::isValidColor(text) ? text : fallback;
}

QString addressFromStore(const QVariant& stored) {
    const QString address = storedText(stored).trimmed();
    return AddressValidator::isValidIP(address) ? address : QString();
}

} // namespace settings

namespace {

constexpr char kFontSizeKey[] = "fontSize";
constexpr char kPaddingKey[] = "padding";
constexpr char kFontFamilyKey[] = "fontFamily";
constexpr char kBgColorKey[] = "bgColor";
constexpr char kColorKey[] = "color";
constexpr char kInputKey[] = "input";

} // namespace

SettingsStore::SettingsStore(QObject* parent)
    : QObject(parent) {}

SettingsStore::~SettingsStore() = default;

template <typename T>
void SettingsStore::update(T& member, const T& value, const char* key,
                           void (SettingsStore::*changed)()) {
    if (member == value)
        return;
    member = value;
    if (m_settings)
        m_settings->setValue(QLatin1String(key), value);
    emit(this->*changed)();
}

void SettingsStore::setFontSize(int size) {
    update(m_fontSize, settings::chosenFontSize(size), kFontSizeKey,
           &SettingsStore::fontSizeChanged);
}

void SettingsStore::setPadding(int padding) {
    update(m_padding, settings::chosenPadding(padding), kPaddingKey,
           &SettingsStore::paddingChanged);
}

void SettingsStore::setFontFamily(const QString& family) {
    update(m_fontFamily, family, kFontFamilyKey, &SettingsStore::fontFamilyChanged);
}

void SettingsStore::setBgColor(const QString& colour) {
    update(m_bgColor, settings::colour(colour, settings::kDefaultBgColor), kBgColorKey,
           &SettingsStore::bgColorChanged);
}

void SettingsStore::setColor(const QString& colour) {
    update(m_color, settings::colour(colour, settings::kDefaultColor), kColorKey,
           &SettingsStore::colorChanged);
}

void SettingsStore::setInput(const QString& address) {
    if (!AddressValidator::isValidIP(address))
        return;
    update(m_input, address, kInputKey, &SettingsStore::inputChanged);
}

void SettingsStore::load() {
    if (m_settings)
        return;
    auto store = std::make_unique<QSettings>();
    // Each stored key, read as the rule for it says; a value that reads as
    // something else is written back as it reads.
    const auto take = [&store](const char* key, auto read, auto assign) {
        const QString name = QLatin1String(key);
        if (!store->contains(name))
            return;
        const QVariant stored = store->value(name);
        const auto value = read(stored);
        if (stored.userType() == QMetaType::QStringList ||
            stored.toString() != QVariant(value).toString())
            store->setValue(name, value);
        assign(value);
    };
    take(kFontSizeKey, &settings::fontSizeFromStore, [this](int value) {
        update(m_fontSize, value, kFontSizeKey, &SettingsStore::fontSizeChanged);
    });
    take(kPaddingKey, &settings::paddingFromStore, [this](int value) {
        update(m_padding, value, kPaddingKey, &SettingsStore::paddingChanged);
    });
    take(kFontFamilyKey, &settings::storedText, [this](const QString& value) {
        update(m_fontFamily, value, kFontFamilyKey, &SettingsStore::fontFamilyChanged);
    });
    take(
        kBgColorKey,
        [](const QVariant& stored) { return settings::colour(stored, settings::kDefaultBgColor); },
        [this](const QString& value) {
            update(m_bgColor, value, kBgColorKey, &SettingsStore::bgColorChanged);
        });
    take(
        kColorKey,
        [](const QVariant& stored) { return settings::colour(stored, settings::kDefaultColor); },
        [this](const QString& value) {
            update(m_color, value, kColorKey, &SettingsStore::colorChanged);
        });
    take(kInputKey, &settings::addressFromStore, [this](const QString& value) {
        update(m_input, value, kInputKey, &SettingsStore::inputChanged);
    });
    // From here on every change is written.
    m_settings = std::move(store);
}

} // namespace tavrin
