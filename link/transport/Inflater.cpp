// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/transport/Inflater.h"

#include <zlib.h>

namespace tavrin::transport {

namespace {

constexpr int kGzipWindowBits = 15 + 16;
constexpr int kZlibWindowBits = 15;
constexpr int kRawWindowBits = -15;
// Input kept while a deflate body might still turn out to have no zlib wrapper.
constexpr int kMaxHeadKept = 64 * 1024;
constexpr int kOutputPiece = 64 * 1024;

} // namespace

struct Inflater::Stream {
    z_stream z{};
    bool initialised = false;
    QByteArray head; // input so far, while nothing came out of it

    bool init(int windowBits) {
        end();
        z = z_stream{};
        initialised = inflateInit2(&z, windowBits) == Z_OK;
        return initialised;
    }
    void end() {
        if (initialised)
            inflateEnd(&z);
        initialised = false;
    }
    ~Stream() { end(); }
};

Inflater::Inflater(Format format)
    : m_format(format)
    , m_stream(std::make_unique<Stream>()) {
    if (!m_stream->init(format == Format::Gzip ? kGzipWindowBits : kZlibWindowBits))
        m_failed = true;
}

Inflater::~Inflater() = default;

Inflater::Result Inflater::feed(const QByteArray& input, QByteArray& out, qint64 maxOut) {
    if (m_failed)
        return Result::Corrupt;
    if (input.isEmpty())
        return Result::Ok;
    const bool keepHead = m_format == Format::Deflate && !m_rawTried && !m_anyOutput;
    if (keepHead && m_stream->head.size() < kMaxHeadKept)
        m_stream->head.append(input);

    Result result = inflateSome(input.constData(), input.size(), out, maxOut);
    if (result == Result::Corrupt && keepHead && !m_anyOutput &&
        m_stream->head.size() < kMaxHeadKept) {
        // No zlib header: some servers send bare deflate data.
        m_rawTried = true;
        m_failed = false;
        m_complete = false;
        const QByteArray head = m_stream->head;
        m_stream->head.clear();
        if (!m_stream->init(kRawWindowBits)) {
            m_failed = true;
            return Result::Corrupt;
        }
        result = inflateSome(head.constData(), head.size(), out, maxOut);
    }
    if (m_anyOutput)
        m_stream->head.clear();
    if (result != Result::Ok)
        m_failed = true;
    return result;
}

Inflater::Result Inflater::inflateSome(const char* data, qint64 size, QByteArray& out,
                                       qint64 maxOut) {
    z_stream& z = m_stream->z;
    const auto* next = reinterpret_cast<const Bytef*>(data);
    qint64 left = size;
    char piece[kOutputPiece];
    while (left > 0) {
        if (m_complete) {
            // A further gzip member goes on the same body (zlib checks its header);
            // nothing may follow the end of a deflate stream.
            if (m_format != Format::Gzip || inflateReset(&z) != Z_OK)
                return Result::Corrupt;
            m_complete = false;
        }
        const uInt taken = uInt(qMin<qint64>(left, 1 << 30));
        z.next_in = const_cast<Bytef*>(next);
        z.avail_in = taken;
        int status = Z_OK;
        do {
            z.next_out = reinterpret_cast<Bytef*>(piece);
            z.avail_out = sizeof piece;
            status = inflate(&z, Z_NO_FLUSH);
            const qint64 produced = qint64(sizeof piece) - z.avail_out;
            if (produced > 0) {
                if (out.size() + produced > maxOut)
                    return Result::TooLarge;
                out.append(piece, int(produced));
                m_anyOutput = true;
            }
            if (status == Z_STREAM_END) {
                m_complete = true;
                break;
            }
            if (status == Z_BUF_ERROR)
                break; // needs more input
            if (status != Z_OK)
                return Result::Corrupt;
        } while (z.avail_in > 0 || z.avail_out == 0);
        const qint64 consumed = qint64(taken) - z.avail_in;
        next += consumed;
        left -= consumed;
        if (!m_complete && consumed == 0)
            break; // nothing more can be done with this input
    }
    return Result::Ok;
}

} // namespace tavrin::transport
