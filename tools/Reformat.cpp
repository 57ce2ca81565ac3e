// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/Reformat.h"

#include <algorithm>

// The transformations are defined by these regular expressions, replaced
// globally with ECMA-262 matching:
//   blank lines      /\n(\n)*( )*(\n)*\n/g
//   trailing spaces  /(  )*\n/g
//   line breaks      /[\n\r]/g
//   tabs             /\t+/g
//   ideographic      /\u3000/g
// Each is implemented as a single forward scan that reproduces exactly what
// the backtracking matcher finds, in linear time. tools/RegexReformat.h keeps
// the regular-expression form that the tests compare against.

namespace tavrin::reformat {

namespace {

constexpr QChar kLineFeed = QLatin1Char('\n');
constexpr QChar kCarriageReturn = QLatin1Char('\r');
constexpr QChar kSpace = QLatin1Char(' ');
constexpr QChar kTab = QLatin1Char('\t');
constexpr QChar kIdeographicSpace = QChar(0x3000);

const QChar* skipRun(const QChar* from, const QChar* end, QChar unit) {
    while (from < end && *from == unit)
        ++from;
    return from;
}

// The scanners write into a buffer sized for the longest possible result and
// cut it to what was written, so that no character is appended one by one.
class Output {
public:
    explicit Output(qsizetype capacity)
        : m_text(int(capacity), Qt::Uninitialized) {
        m_cursor = m_text.data();
    }
    void put(QChar unit) { *m_cursor++ = unit; }
    void put(const QChar* from, const QChar* to) { m_cursor = std::copy(from, to, m_cursor); }
    void put(QStringView text) { put(text.begin(), text.end()); }
    QString take() {
        m_text.truncate(int(m_cursor - m_text.constData()));
        return std::move(m_text);
    }

private:
    QString m_text;
    QChar* m_cursor = nullptr;
};

// /\n(\n)*( )*(\n)*\n/g → "\n". At a line feed, the greedy groups take the
// following line feeds, then spaces, then line feeds; the last group gives one
// line feed back to the final "\n". Without line feeds after the spaces the
// matcher backtracks through the spaces to the first group, which gives one
// line feed back instead, so the match is then the run of line feeds alone.
QString collapseBlankLines(QStringView text) {
    const QChar* p = text.begin();
    const QChar* const end = text.end();
    Output out(text.size()); // a match of two or more units becomes one
    while (p < end) {
        if (*p != kLineFeed) {
            const QChar* next = p;
            while (next < end && *next != kLineFeed)
                ++next;
            out.put(p, next);
            p = next;
            continue;
        }
        const QChar* const afterFeeds = skipRun(p + 1, end, kLineFeed);
        const QChar* const afterSpaces = skipRun(afterFeeds, end, kSpace);
        const QChar* const afterLastFeeds =
            afterSpaces > afterFeeds ? skipRun(afterSpaces, end, kLineFeed) : afterSpaces;
        if (afterLastFeeds > afterSpaces) {
            out.put(kLineFeed);
            p = afterLastFeeds;
        } else if (afterFeeds > p + 1) {
            out.put(kLineFeed);
            p = afterFeeds;
        } else {
            // No match at this line feed, nor at the spaces after it (a match
            // starts with a line feed), and what follows them is no line feed.
            out.put(p, afterSpaces);
            p = afterSpaces;
        }
    }
    return out.take();
}

// /(  )*\n/g → "\n". A match starting inside a run of spaces succeeds only
// when an even number of spaces is left before the line feed, so of each run
// before a line feed one space stays when the run is odd.
QString dropTrailingSpacePairs(QStringView text) {
    const QChar* p = text.begin();
    const QChar* const end = text.end();
    Output out(text.size());
    while (p < end) {
        if (*p != kSpace) {
            out.put(*p++);
            continue;
        }
        const QChar* const afterSpaces = skipRun(p, end, kSpace);
        if (afterSpaces < end && *afterSpaces == kLineFeed) {
            if ((afterSpaces - p) % 2 != 0)
                out.put(kSpace);
            out.put(kLineFeed);
            p = afterSpaces + 1;
        } else {
            out.put(p, afterSpaces);
            p = afterSpaces;
        }
    }
    return out.take();
}

// /[\n\r]/g → replacement, after `prefix`.
QString replaceLineBreaks(QStringView text, QStringView replacement, QStringView prefix = {}) {
    const auto breaks = std::count_if(text.begin(), text.end(), [](QChar unit) {
        return unit == kLineFeed || unit == kCarriageReturn;
    });
    Output out(prefix.size() + text.size() + breaks * (replacement.size() - 1));
    out.put(prefix);
    for (const QChar unit : text) {
        if (unit == kLineFeed || unit == kCarriageReturn)
            out.put(replacement);
        else
            out.put(unit);
    }
    return out.take();
}

// /\t+/g and /\u3000/g → "": removing every run of tabs is removing every tab.
QString removeTabsAndIdeographicSpaces(QStringView text) {
    Output out(text.size());
    for (const QChar unit : text) {
        if (unit != kTab && unit != kIdeographicSpace)
            out.put(unit);
    }
    return out.take();
}

} // namespace

QString autoFormatPlain(QStringView text) {
    const QString collapsed = collapseBlankLines(removeTabsAndIdeographicSpaces(text));
    return replaceLineBreaks(collapsed, u"\n\n\u3000\u3000", u"\u3000\u3000");
}

QString autoFormatMarkdown(QStringView text) {
    return replaceLineBreaks(dropTrailingSpacePairs(collapseBlankLines(text)), u"  \n\n");
}

QString autoFormat(QStringView text, bool markdown) {
    return markdown ? autoFormatMarkdown(text) : autoFormatPlain(text);
}

QString removeIndent(QStringView text) {
    return removeTabsAndIdeographicSpaces(text);
}

QString removeBlankLines(QStringView text) {
    return collapseBlankLines(text);
}

QString applyToSelection(const QString& text, int start, int end,
                         QString (*transform)(QStringView)) {
    const int length = text.size();
    start = std::clamp(start, 0, length);
    end = std::clamp(end, 0, length);
    if (start > end)
        std::swap(start, end);
    if (start == end)
        return transform(text);
    return text.left(start) + transform(QStringView(text).mid(start, end - start)) + text.mid(end);
}

} // namespace tavrin::reformat
