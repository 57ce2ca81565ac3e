// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/PhoneLink.h"
#include "state/Attrs.h"
#include "tools/History.h"

#include <QObject>
#include <QString>

// Stands in for the scene's editor: it takes the link's assignments and reports
// every change of its text back, as the real editor's notifications do.
class FakeEditor : public QObject {
public:
    FakeEditor(tavrin::PhoneLink* link, tavrin::Attrs* attrs)
        : m_link(link) {
        connect(link, &tavrin::PhoneLink::assignEditorText, this, &FakeEditor::assign);
        connect(attrs->history(), &tavrin::History::restoreText, this, &FakeEditor::assign);
        connect(link, &tavrin::PhoneLink::connectionScreenChanged, this,
                [this, link] { connectionScreen = link->connectionScreen(); });
    }

    void assign(const QString& text) {
        if (text == m_text)
            return;
        m_text = text;
        m_link->justUpdateContent(m_text);
    }

    void type(const QString& chars) {
        m_text += chars;
        m_link->justUpdateContent(m_text);
        m_link->postSelection(m_text.size(), m_text.size());
    }

    QString text() const { return m_text; }
    bool connectionScreen = true;

private:
    tavrin::PhoneLink* m_link;
    QString m_text;
};
