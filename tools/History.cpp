// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/History.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

namespace tavrin {

namespace {

// Code units compared per memcmp call: long runs go at memcmp's speed, and the
// unit-by-unit scan that finds the first difference stays short.
constexpr int kBlock = 256;

// How many units a[0..] and b[0..] have in common, at most `limit`.
int commonPrefix(const QChar* a, const QChar* b, int limit) {
    int n = 0;
    while (limit - n >= kBlock && std::memcmp(a + n, b + n, kBlock * sizeof(QChar)) == 0)
        n += kBlock;
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// How many units the runs ending just before aEnd and bEnd have in common, at
// most `limit`.
int commonSuffix(const QChar* aEnd, const QChar* bEnd, int limit) {
    int n = 0;
    while (limit - n >= kBlock &&
           std::memcmp(aEnd - n - kBlock, bEnd - n - kBlock, kBlock * sizeof(QChar)) == 0)
        n += kBlock;
    while (n < limit && aEnd[-1 - n] == bEnd[-1 - n])
        ++n;
    return n;
}

} // namespace

TextChange textChange(const QString& from, const QString& to) {
    if (from.constData() == to.constData() && from.size() == to.size())
        return {};
    const int shorter = std::min(from.size(), to.size());
    const int prefix = commonPrefix(from.constData(), to.constData(), shorter);
    const int suffix =
        commonSuffix(from.constData() + from.size(), to.constData() + to.size(), shorter - prefix);
    return {prefix, from.size() - prefix - suffix, to.mid(prefix, to.size() - prefix - suffix)};
}

QString applyChange(const QString& text, const TextChange& change) {
    if (change.isEmpty())
        return text;
    if (change.position == 0 && change.removed == text.size())
        return change.inserted;
    const int tail = change.position + change.removed;
    QString result(text.size() - change.removed + change.inserted.size(), Qt::Uninitialized);
    QChar* out = result.data();
    std::memcpy(out, text.constData(), change.position * sizeof(QChar));
    out += change.position;
    std::memcpy(out, change.inserted.constData(), change.inserted.size() * sizeof(QChar));
    out += change.inserted.size();
    std::memcpy(out, text.constData() + tail, (text.size() - tail) * sizeof(QChar));
    return result;
}

void TextStack::push(const QString& text) {
    Q_ASSERT(!text.isEmpty());
    if (m_top.isEmpty()) {
        m_top = text;
        return;
    }
    pushChange(text, textChange(text, m_top));
}

void TextStack::push(const QString& text, int position, int charsRemoved, int charsAdded) {
    Q_ASSERT(!text.isEmpty());
    const bool fits = !m_top.isEmpty() && position >= 0 && charsRemoved >= 0 && charsAdded >= 0 &&
                      charsRemoved <= m_top.size() - position &&
                      charsAdded <= text.size() - position &&
                      m_top.size() - charsRemoved == text.size() - charsAdded;
    if (!fits) {
        push(text);
        return;
    }
    Q_ASSERT(QStringView(m_top).left(position) == QStringView(text).left(position));
    Q_ASSERT(QStringView(m_top).mid(position + charsRemoved) ==
             QStringView(text).mid(position + charsAdded));
    // Documents report ranges wider than the edit (a whole block, or a
    // formatting change that removes and adds the same text): trim them.
    const QChar* before = m_top.constData() + position;
    const QChar* after = text.constData() + position;
    const int shorter = std::min(charsRemoved, charsAdded);
    const int prefix = commonPrefix(before, after, shorter);
    const int suffix = commonSuffix(before + charsRemoved, after + charsAdded, shorter - prefix);
    const int at = position + prefix;
    pushChange(text,
               {at, charsAdded - prefix - suffix, m_top.mid(at, charsRemoved - prefix - suffix)});
}

void TextStack::pushChange(const QString& text, TextChange back) {
    if (size() >= m_capacity) {
        if (m_older.empty()) { // a stack of one text
            m_top = text;
            return;
        }
        m_older.pop_front();
    }
    m_older.push_back(std::move(back));
    m_top = text;
}

QString TextStack::pop() {
    Q_ASSERT(!m_top.isEmpty());
    QString text = std::exchange(m_top, QString());
    if (!m_older.empty()) {
        m_top = applyChange(text, m_older.back());
        m_older.pop_back();
    }
    return text;
}

void TextStack::clear() {
    m_top.clear();
    m_older.clear();
}

QStringList TextStack::texts() const {
    QStringList list;
    if (m_top.isEmpty())
        return list;
    list.reserve(size());
    QString text = m_top;
    list.append(text);
    for (auto change = m_older.rbegin(); change != m_older.rend(); ++change) {
        text = applyChange(text, *change);
        list.append(text);
    }
    std::reverse(list.begin(), list.end());
    return list;
}

qint64 TextStack::memoryBytes(std::initializer_list<const TextStack*> stacks) {
    std::unordered_set<const QChar*> seen;
    qint64 bytes = 0;
    const auto count = [&](const QString& text) {
        if (text.isEmpty() || !seen.insert(text.constData()).second)
            return;
        bytes += qint64(sizeof(QString::Data)) +
                 qint64(std::max(text.capacity(), text.size()) + 1) * qint64(sizeof(QChar));
    };
    for (const TextStack* stack : stacks) {
        bytes += qint64(stack->m_older.size()) * qint64(sizeof(TextChange));
        count(stack->m_top);
        for (const TextChange& change : stack->m_older)
            count(change.inserted);
    }
    return bytes;
}

History::History(QObject* parent)
    : QObject(parent) {}

void History::setActive(bool active) {
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged();
}

void History::addToInStack(const QString& content) {
    if (content.isEmpty()) {
        m_inTopIsEditorText = false;
        return;
    }
    m_in.push(content);
    m_inTopIsEditorText = true;
    emit inStackChanged();
}

void History::addToInStack(const QString& content, int position, int charsRemoved, int charsAdded) {
    if (content.isEmpty()) {
        m_inTopIsEditorText = false;
        return;
    }
    if (m_inTopIsEditorText)
        m_in.push(content, position, charsRemoved, charsAdded);
    else
        m_in.push(content);
    m_inTopIsEditorText = true;
    emit inStackChanged();
}

void History::addToOutStack(const QString& content) {
    if (content.isEmpty())
        return;
    m_out.push(content);
    emit outStackChanged();
}

void History::clearStack() {
    const bool hadIn = !m_in.isEmpty();
    const bool hadOut = !m_out.isEmpty();
    m_in.clear();
    m_out.clear();
    m_inTopIsEditorText = false;
    if (hadIn)
        emit inStackChanged();
    if (hadOut)
        emit outStackChanged();
}

void History::postToUndo() {
    if (!m_active || m_in.isEmpty())
        return;
    const QString text = m_in.pop();
    // The editor still holds its text; the newest entry is now an older one.
    m_inTopIsEditorText = false;
    emit inStackChanged();
    // The editor records a changed text in the undo history again before it
    // goes to the redo history.
    emit restoreText(text);
    addToOutStack(text);
}

void History::postToRedo() {
    if (!m_active || m_out.isEmpty())
        return;
    const QString text = m_out.pop();
    emit outStackChanged();
    emit restoreText(text);
}

qint64 History::memoryBytes() const {
    return TextStack::memoryBytes({&m_in, &m_out});
}

} // namespace tavrin
