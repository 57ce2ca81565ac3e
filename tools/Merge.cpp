// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/Merge.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <string>

namespace tavrin {

namespace {

std::u16string units(QStringView text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), size_t(text.size()));
}

// Code units shared by all three at the start, then at the end (after the start).
int commonPrefix(const QString& a, const QString& b, const QString& c) {
    const int limit = std::min({a.size(), b.size(), c.size()});
    int n = 0;
    while (n < limit && a.at(n) == b.at(n) && a.at(n) == c.at(n))
        ++n;
    // Never split a surrogate pair.
    if (n > 0 && a.at(n - 1).isHighSurrogate())
        --n;
    return n;
}

int commonSuffix(const QString& a, const QString& b, const QString& c, int prefix) {
    const int limit = std::min({a.size(), b.size(), c.size()}) - prefix;
    int n = 0;
    while (n < limit && a.at(a.size() - 1 - n) == b.at(b.size() - 1 - n) &&
           a.at(a.size() - 1 - n) == c.at(c.size() - 1 - n))
        ++n;
    if (n > 0 && a.at(a.size() - n).isLowSurrogate())
        --n;
    return n;
}

} // namespace

std::optional<QString> mergeThreeWays(const QString& base, const QString& local,
                                      const QString& remote) {
    if (local == base)
        return remote;
    if (remote == base || remote == local)
        return local;
    // Only the middle that differs goes through the diff: the work follows
    // the size of the changes, not of the note.
    const int prefix = commonPrefix(base, local, remote);
    const int suffix = commonSuffix(base, local, remote, prefix);
    auto middle = [&](const QString& text) {
        return units(QStringView(text).mid(prefix, text.size() - prefix - suffix));
    };
    dtl::Diff3<char16_t, std::u16string> diff3(middle(local), middle(base), middle(remote));
    diff3.compose();
    if (!diff3.merge())
        return std::nullopt;
    const std::u16string merged = diff3.getMergedSequence();
    QString result = base.left(prefix);
    result.append(QString::fromUtf16(merged.data(), int(merged.size())));
    result.append(base.right(suffix));
    // A merge inside a surrogate pair would leave half a character: no merge then.
    for (int i = 0; i < result.size(); ++i) {
        if (result.at(i).isHighSurrogate() && i + 1 < result.size() &&
            result.at(i + 1).isLowSurrogate())
            ++i;
        else if (result.at(i).isSurrogate())
            return std::nullopt;
    }
    return result;
}

} // namespace tavrin
