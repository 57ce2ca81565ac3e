#pragma once

#include <QObject>
#include <QStringList>

namespace tavrin {

// The undo and redo histories of whole editor texts: oldest first, at most
// kCapacity entries each, never an empty text.
class History : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList inStack READ inStack NOTIFY inStackChanged)
    Q_PROPERTY(QStringList outStack READ outStack NOTIFY outStackChanged)
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)

public:
    static constexpr int kCapacity = 50;

    explicit History(QObject* parent = nullptr);

    QStringList inStack() const { return m_in; }
    QStringList outStack() const { return m_out; }

    // Undo and redo act only while active; the runtime record keeps this
    // false exactly while the note id is the number 0.
    bool isActive() const { return m_active; }
    void setActive(bool active);

    Q_INVOKABLE void addToInStack(const QString& content);
    Q_INVOKABLE void addToOutStack(const QString& content);
    Q_INVOKABLE void clearStack();

    // Take the newest undo entry, have the editor show it, then keep it for redo.
    Q_INVOKABLE void postToUndo();
    // Take the newest redo entry and have the editor show it.
    Q_INVOKABLE void postToRedo();

signals:
    void inStackChanged();
    void outStackChanged();
    void activeChanged();
    // The editor's whole text must become `text`, synchronously.
    void restoreText(const QString& text);

private:
    static void append(QStringList& stack, const QString& content);

    QStringList m_in;
    QStringList m_out;
    bool m_active = true;
};

} // namespace tavrin
