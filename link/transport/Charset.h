// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Answer bodies as text: decoded by the charset their Content-Type names, or
// by the byte order mark they start with, through the codecs Qt knows. A body
// that cannot be decoded exactly gives no text at all, never a guess.

#include <QByteArray>
#include <QString>
#include <optional>

namespace tavrin::transport {

enum class DecodeProblem {
    None,
    UnknownCharset, // the charset named is not one Qt has a codec for
    InvalidText,    // bytes that are no text in that charset, or a cut-off sequence
};

// The value of the `charset` parameter of a Content-Type header, unquoted and
// trimmed; empty when there is none.
QByteArray charsetParameter(const QByteArray& contentType);

// The body as text. A byte order mark (UTF-8, UTF-16 or UTF-32) decides the
// encoding and is dropped; otherwise the charset parameter does, UTF-8 when
// there is none. "UTF-16" and "UTF-32" without a mark are big-endian.
// nullopt, with the reason in *problem, for an unknown charset or a body that
// is not valid in its charset (a lone surrogate counts as invalid).
std::optional<QString> decodeBody(const QByteArray& body, const QByteArray& contentType,
                                  DecodeProblem* problem = nullptr);

} // namespace tavrin::transport
