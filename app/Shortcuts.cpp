#include "app/Shortcuts.h"

#include <QVariantMap>

namespace tavrin {

const QVector<Shortcuts::Entry>& Shortcuts::entries() {
    static const QVector<Entry> list{
        {"Ctrl+S", "postToSaveNow", QStringLiteral("保存")},
        {"Ctrl+T", "openFontSizeDialog", QStringLiteral("字体大小")},
        {"Ctrl+O", "openColorDialog", QStringLiteral("文字颜色")},
        {"Ctrl+B", "openBgColorDialog", QStringLiteral("背景颜色")},
        {"Ctrl+P", "openPaddingDialog", QStringLiteral("内边距")},
        {"Ctrl+Z", "postToUndo", QStringLiteral("撤回")},
        {"Page Up", "scrollToTop", QStringLiteral("聚焦到文首")},
        {"Page Down", "scrollToBottom", QStringLiteral("聚焦到文末")},
        {"Ctrl+Shift+T", "openFontDialog", QStringLiteral("修改字体")},
        {"Ctrl+Shift+F", "autoFormat", QStringLiteral("段首缩进+插入空行")},
        {"Ctrl+Shift+L", "removeBlankLines", QStringLiteral("移除空行")},
        {"Shift+Tab", "removeIndent", QStringLiteral("移除段首缩进")},
        {"Ctrl+Shift+Z", "postToRedo", QStringLiteral("反撤回")},
    };
    return list;
}

QVariantList Shortcuts::actions() const {
    QVariantList list;
    for (const Entry& entry : entries())
        list.append(QVariantMap{{QStringLiteral("sequence"), QString::fromLatin1(entry.sequence)},
                                {QStringLiteral("operation"), QString::fromLatin1(entry.operation)},
                                {QStringLiteral("help"), entry.help}});
    return list;
}

QString Shortcuts::helpText() const {
    QStringList lines;
    for (const Entry& entry : entries())
        lines.append(QString::fromLatin1(entry.sequence) + QLatin1Char(':') + entry.help);
    return lines.join(QLatin1Char('\n'));
}

} // namespace tavrin
