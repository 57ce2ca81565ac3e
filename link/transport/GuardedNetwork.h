// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A QNetworkAccessManager for code that reads replies on its own (the scene's
// image and font loaders): its HTTP replies follow no redirect, not even when
// their reader asks for one, end by a deadline for the whole answer and stop
// at a size limit, like the answers of HttpTransport.

#include "link/transport/Transport.h"

#include <QNetworkAccessManager>
#include <functional>

namespace tavrin::transport {

class GuardedNetworkAccessManager : public QNetworkAccessManager {
    Q_OBJECT

public:
    // The deadline and the size limit for a request to this URL.
    using LimitsFor = std::function<Limits(const QUrl& url)>;

    explicit GuardedNetworkAccessManager(LimitsFor limitsFor, QObject* parent = nullptr);

protected:
    // HTTP and HTTPS requests get a reply that holds the whole answer once it
    // came, or fails (error set, no data) without giving anything of it: a
    // 3xx answer is an error and carries no redirection target. Other schemes
    // go through unchanged.
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* outgoingData = nullptr) override;

private:
    LimitsFor m_limitsFor;
};

} // namespace tavrin::transport
