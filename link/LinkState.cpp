// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/LinkState.h"

#include "link/protocol/Protocol.h"
#include "state/Attrs.h"

#include <QCoreApplication>

Q_LOGGING_CATEGORY(lcLink, "tavrin.link", QtInfoMsg)

namespace tavrin::link {

bool showsConnectionScreen(State state) {
    switch (state) {
    case State::NoAddress:
    case State::Connecting:
    case State::Unreachable:
    case State::Refused:
        return true;
    case State::NoNote:
    case State::Loading:
    case State::Loaded:
    case State::Offline:
        break;
    }
    return false;
}

QUrl noteServerUrl(const Attrs& attrs, const char* path) {
    const std::optional<QString> address = attrs.ip();
    return address ? protocol::requestUrl(*address, QLatin1String(path)) : QUrl();
}

QString unreachableHint() {
    return QCoreApplication::translate("tavrin::link", "请长按便签APP的扫码按钮启动服务");
}

QString noNoteHint() {
    return QCoreApplication::translate("tavrin::link", "请打开一篇纯文本便签");
}

bool isHintText(const QString& text) {
    return text == unreachableHint() || text == noNoteHint();
}

QString reasonText(State state, Refusal refusal, int maxNoteChars) {
    switch (state) {
    case State::Connecting:
        return QCoreApplication::translate("Link", "正在连接手机…");
    case State::Unreachable:
        return QCoreApplication::translate("Link", "连接不上手机：请确认手机和电脑在同一网络，并已启动便签的服务");
    case State::Refused:
        switch (refusal) {
        case Refusal::NoNoteGiven:
            return QCoreApplication::translate("Link", "手机上没有打开纯文本便签");
        case Refusal::Unsendable:
            return QCoreApplication::translate("Link", "这篇便签含有无法原样发回手机的字符，不能在这里编辑");
        case Refusal::Undecodable:
            return QCoreApplication::translate("Link", "手机发来的便签用了无法识别的字符编码");
        case Refusal::TooLarge:
            return QCoreApplication::translate("Link", "这篇便签太长，超过了 %1 字的上限，不能在这里编辑")
                .arg(maxNoteChars);
        case Refusal::None:
        case Refusal::BrokenNote:
            break;
        }
        return QCoreApplication::translate("Link", "手机发来的便签无法使用");
    case State::NoAddress:
    case State::NoNote:
    case State::Loading:
    case State::Loaded:
    case State::Offline:
        break;
    }
    return {};
}

} // namespace tavrin::link
