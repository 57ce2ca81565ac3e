// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <deque>
#include <initializer_list>

namespace tavrin {

// One edit of a text: at `position`, `removed` code units go and `inserted`
// takes their place.
struct TextChange {
    int position = 0;
    int removed = 0;
    QString inserted;

    bool isEmpty() const { return removed == 0 && inserted.isEmpty(); }
};

// The smallest single edit that turns `from` into `to`, found from their common
// prefix and suffix. Positions count UTF-16 code units, so a change may split a
// surrogate pair or a CR LF; applying it still gives `to` exactly.
TextChange textChange(const QString& from, const QString& to);

// `text` with `change` applied. An empty change gives `text` itself, shared.
QString applyChange(const QString& text, const TextChange& change);

// A bounded stack of texts, oldest first, kept compact: the newest text is
// held whole (and shared with whoever handed it in), every older one as the
// change that turns its newer neighbour back into it. Pushing and popping the
// newest text cost one compare or one rebuild; the older texts cost only the
// size of their changes.
class TextStack {
public:
    explicit TextStack(int capacity)
        : m_capacity(capacity) {}

    int size() const { return m_top.isEmpty() ? 0 : int(m_older.size()) + 1; }
    bool isEmpty() const { return m_top.isEmpty(); }
    const QString& top() const { return m_top; }

    // `text` must not be empty. A full stack drops its oldest text first.
    void push(const QString& text);
    // As push, for a caller who knows how the current top became `text`: at
    // `position`, `charsRemoved` units of the top were replaced by `charsAdded`
    // units of `text`. A range wider than the real edit is fine (it is trimmed);
    // one that does not fit the two lengths falls back to the compare.
    void push(const QString& text, int position, int charsRemoved, int charsAdded);
    // Removes the newest text and returns it. The stack must not be empty.
    QString pop();
    void clear();

    // Every text, oldest first, rebuilt from the changes.
    QStringList texts() const;
    // Bytes held by the texts and the changes; a buffer shared by two of them
    // counts once, also across the stacks given together.
    qint64 memoryBytes() const { return memoryBytes({this}); }
    static qint64 memoryBytes(std::initializer_list<const TextStack*> stacks);

private:
    void pushChange(const QString& text, TextChange back);

    int m_capacity;
    QString m_top;
    // m_older[i] turns text i + 1 (m_top for the last one) back into text i.
    std::deque<TextChange> m_older;
};

// The undo and redo histories of editor texts: oldest first, at most
// kCapacity entries each, never an empty text. Each history keeps its newest
// text whole and the older ones as differences; inStack() and outStack()
// rebuild the whole texts on demand.
class History : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList inStack READ inStack NOTIFY inStackChanged)
    Q_PROPERTY(QStringList outStack READ outStack NOTIFY outStackChanged)
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)

public:
    static constexpr int kCapacity = 50;

    explicit History(QObject* parent = nullptr);

    QStringList inStack() const { return m_in.texts(); }
    QStringList outStack() const { return m_out.texts(); }
    int inStackSize() const { return m_in.size(); }
    int outStackSize() const { return m_out.size(); }

    // Undo and redo act only while active; the runtime record keeps this
    // false exactly while the note id is the number 0.
    bool isActive() const { return m_active; }
    void setActive(bool active);

    Q_INVOKABLE void addToInStack(const QString& content);
    // The editor's text became `content` by one edit of the text it held before,
    // as a text document reports it: at `position`, `charsRemoved` characters
    // replaced by `charsAdded`. The text held before is the one last handed to
    // addToInStack; when that is not the newest undo entry (after an undo, after
    // an empty text) the difference is found by comparing.
    Q_INVOKABLE void addToInStack(const QString& content, int position, int charsRemoved,
                                  int charsAdded);
    Q_INVOKABLE void addToOutStack(const QString& content);
    Q_INVOKABLE void clearStack();

    // Take the newest undo entry, have the editor show it, then keep it for redo.
    Q_INVOKABLE void postToUndo();
    // Take the newest redo entry and have the editor show it.
    Q_INVOKABLE void postToRedo();

    // Bytes held by both histories' entries.
    qint64 memoryBytes() const;

signals:
    void inStackChanged();
    void outStackChanged();
    void activeChanged();
    // The editor's whole text must become `text`, synchronously.
    void restoreText(const QString& text);

private:
    TextStack m_in{kCapacity};
    TextStack m_out{kCapacity};
    // True while the newest undo entry is the text last handed to addToInStack,
    // so a reported edit of that text is also an edit of the entry.
    bool m_inTopIsEditorText = false;
    bool m_active = true;
};

} // namespace tavrin
