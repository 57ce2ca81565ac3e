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

} // namespace tavrin::link
