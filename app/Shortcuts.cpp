// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Shortcuts.h"

#include <QCoreApplication>
#include <QVariantMap>

namespace tavrin {

const QVector<Shortcuts::Entry>& Shortcuts::entries() {
    static const QVector<Entry> list{
        {"Ctrl+S", "postToSaveNow", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "保存")},
        {"Ctrl+T", "openFontSizeDialog", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "字体大小")},
        {"Ctrl+O", "openColorDialog", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "文字颜色")},
        {"Ctrl+B", "openBgColorDialog", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "背景颜色")},
        {"Ctrl+P", "openPaddingDialog", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "内边距")},
        {"Ctrl+Z", "postToUndo", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "撤回")},
        {"Page Up", "scrollToTop", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "聚焦到文首")},
        {"Page Down", "scrollToBottom", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "聚焦到文末")},
        {"Ctrl+Shift+T", "openFontDialog", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "修改字体")},
        {"Ctrl+Shift+F", "autoFormat", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "段首缩进+插入空行")},
        {"Ctrl+Shift+L", "removeBlankLines", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "移除空行")},
        {"Shift+Tab", "removeIndent", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "移除段首缩进")},
        {"Ctrl+Shift+Z", "postToRedo", QT_TRANSLATE_NOOP("tavrin::Shortcuts", "反撤回")},
    };
    return list;
}

QString Shortcuts::help(const Entry& entry) {
    return QCoreApplication::translate(staticMetaObject.className(), entry.help);
}

QVariantList Shortcuts::actions() const {
    QVariantList list;
    for (const Entry& entry : entries())
        list.append(QVariantMap{{QStringLiteral("sequence"), QString::fromLatin1(entry.sequence)},
                                {QStringLiteral("operation"), QString::fromLatin1(entry.operation)},
                                {QStringLiteral("help"), help(entry)}});
    return list;
}

QString Shortcuts::helpText() const {
    QStringList lines;
    for (const Entry& entry : entries()) {
        //: One line of the shortcut help: %1 the keys, %2 what they do.
        lines.append(tr("%1:%2").arg(QString::fromLatin1(entry.sequence), help(entry)));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace tavrin
