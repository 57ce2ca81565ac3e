#include "tools/History.h"

namespace tavrin {

History::History(QObject* parent)
    : QObject(parent) {}

void History::setActive(bool active) {
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged();
}

void History::append(QStringList& stack, const QString& content) {
    if (stack.size() >= kCapacity)
        stack.removeFirst();
    stack.append(content);
}

void History::addToInStack(const QString& content) {
    if (content.isEmpty())
        return;
    append(m_in, content);
    emit inStackChanged();
}

void History::addToOutStack(const QString& content) {
    if (content.isEmpty())
        return;
    append(m_out, content);
    emit outStackChanged();
}

void History::clearStack() {
    const bool hadIn = !m_in.isEmpty();
    const bool hadOut = !m_out.isEmpty();
    m_in.clear();
    m_out.clear();
    if (hadIn)
        emit inStackChanged();
    if (hadOut)
        emit outStackChanged();
}

void History::postToUndo() {
    if (!m_active || m_in.isEmpty())
        return;
    const QString text = m_in.takeLast();
    emit inStackChanged();
    // The editor records a changed text in the undo history again before it
    // goes to the redo history.
    emit restoreText(text);
    addToOutStack(text);
}

void History::postToRedo() {
    if (!m_active || m_out.isEmpty())
        return;
    const QString text = m_out.takeLast();
    emit outStackChanged();
    emit restoreText(text);
}

} // namespace tavrin
