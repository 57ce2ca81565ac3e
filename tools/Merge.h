// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

namespace tavrin {

// Three-way merge of two edited copies of one text: the changes that turned
// `base` into `local` and those that turned it into `remote`, applied
// together. nullopt when they overlap (the same place changed on both sides
// in different ways).
std::optional<QString> mergeThreeWays(const QString& base, const QString& local,
                                      const QString& remote);

} // namespace tavrin
