// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/HttpsTestServer.h"

#include <QHash>
#include <QRandomGenerator>
#include <QSslConfiguration>

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tavrin::test {

namespace {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
    void operator()(X509* cert) const { X509_free(cert); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using CertPtr = std::unique_ptr<X509, CertDeleter>;

void require(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test certificate: ") + what);
}

KeyPtr newKey() {
    KeyPtr key(EVP_EC_gen("P-256"));
    require(key != nullptr, "key generation failed");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_nconf_nid(nullptr, &context, nid, value);
    require(extension != nullptr, "bad extension");
    require(X509_add_ext(cert, extension, -1) == 1, "cannot add extension");
    X509_EXTENSION_free(extension);
}

// A certificate for subjectKey named commonName, issued by itself when issuer is null.
// Signed afterwards, once its extensions are in.
CertPtr newCertificate(EVP_PKEY* subjectKey, const QString& commonName, X509* issuer) {
    CertPtr cert(X509_new());
    require(cert != nullptr, "out of memory");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()),
                            QRandomGenerator::global()->generate64() >> 1);
    // Valid from an hour ago, so a clock a little off does not matter.
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7 * 24 * 3600);
    require(X509_set_pubkey(cert.get(), subjectKey) == 1, "cannot set key");

    X509_NAME* subject = X509_get_subject_name(cert.get());
    const QByteArray name = commonName.toUtf8();
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(name.constData()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject);
    return cert;
}

void sign(X509* cert, EVP_PKEY* key) {
    require(X509_sign(cert, key, EVP_sha256()) > 0, "signing failed");
}

QSslCertificate toQt(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    const QSslCertificate result(QByteArray(data, int(size)), QSsl::Pem);
    BIO_free(bio);
    return result;
}

bool isAddedByServer(const std::string& name) {
    // httplib puts the peer's and its own address among the request headers.
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

} // namespace

QByteArray RecordedRequest::header(const QByteArray& name) const {
    for (const auto& [headerName, value] : headers) {
        if (headerName.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

struct HttpsTestServer::Private {
    QString address;
    quint16 port = 0;
    KeyPtr caKey;
    CertPtr caCert;
    KeyPtr serverKey;
    CertPtr serverCert;
    QSslCertificate caCertificate;

    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;

    mutable std::mutex mutex;
    std::condition_variable released;
    quint64 releaseGeneration = 0; // raised by releaseSilent() and stop()
    int silentCount = 0;
    bool stopping = false;
    QHash<QString, TestAnswer> answers;
    QList<RecordedRequest> requests;

    void makeCertificates();
    void handle(const httplib::Request& request, httplib::Response& response);
};

void HttpsTestServer::Private::makeCertificates() {
    caKey = newKey();
    caCert = newCertificate(caKey.get(), QStringLiteral("Tavrin test CA for ") + address, nullptr);
    addExtension(caCert.get(), caCert.get(), NID_basic_constraints, "critical,CA:TRUE");
    addExtension(caCert.get(), caCert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(caCert.get(), caCert.get(), NID_subject_key_identifier, "hash");
    sign(caCert.get(), caKey.get());

    serverKey = newKey();
    serverCert = newCertificate(serverKey.get(), address, caCert.get());
    const QByteArray altNames = "IP:" + address.toLatin1() + ",DNS:localhost";
    addExtension(serverCert.get(), caCert.get(), NID_subject_alt_name, altNames.constData());
    addExtension(serverCert.get(), caCert.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(serverCert.get(), caCert.get(), NID_key_usage, "critical,digitalSignature");
    addExtension(serverCert.get(), caCert.get(), NID_ext_key_usage, "serverAuth");
    addExtension(serverCert.get(), caCert.get(), NID_authority_key_identifier, "keyid");
    sign(serverCert.get(), caKey.get());

    caCertificate = toQt(caCert.get());
}

void HttpsTestServer::Private::handle(const httplib::Request& request,
                                      httplib::Response& response) {
    RecordedRequest record;
    record.method = QString::fromStdString(request.method);
    record.path = QString::fromStdString(request.path);
    const auto queryStart = request.target.find('?');
    if (queryStart != std::string::npos)
        record.query = QString::fromStdString(request.target.substr(queryStart + 1));
    for (const auto& [name, value] : request.headers) {
        if (!isAddedByServer(name))
            record.headers.append(
                {QByteArray::fromStdString(name), QByteArray::fromStdString(value)});
    }
    record.body = QByteArray::fromStdString(request.body);

    TestAnswer answer;
    bool found = false;
    {
        std::lock_guard lock(mutex);
        requests.append(record);
        const auto it = answers.constFind(record.path);
        if (it != answers.constEnd()) {
            answer = *it;
            found = true;
        }
    }
    if (!found) {
        response.status = 404;
        return;
    }
    if (answer.silent) {
        std::unique_lock lock(mutex);
        ++silentCount;
        const quint64 generation = releaseGeneration;
        released.wait(lock, [&] { return stopping || releaseGeneration != generation; });
        --silentCount;
    }
    if (answer.delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
    response.status = answer.status;
    if (answer.contentType.isEmpty())
        response.body = answer.body.toStdString();
    else
        response.set_content(answer.body.toStdString(), answer.contentType.constData());
}

HttpsTestServer::HttpsTestServer(const QString& address)
    : d(std::make_unique<Private>()) {
    d->address = address;
    d->makeCertificates();
}

HttpsTestServer::~HttpsTestServer() {
    stop();
}

bool HttpsTestServer::start(quint16 port) {
    stop();
    {
        std::lock_guard lock(d->mutex);
        d->stopping = false;
    }
    auto server = std::make_unique<httplib::SSLServer>(d->serverCert.get(), d->serverKey.get());
    if (!server->is_valid())
        return false;
    // Short, so that stop() does not wait long for an idle kept-alive connection.
    server->set_keep_alive_timeout(1);
    const auto handler = [this](const httplib::Request& request, httplib::Response& response) {
        d->handle(request, response);
    };
    server->Get(".*", handler);
    server->Post(".*", handler);
    server->Put(".*", handler);
    server->Patch(".*", handler);
    server->Delete(".*", handler);
    server->Options(".*", handler);

    const std::string host = d->address.toStdString();
    int bound = -1;
    if (port == 0)
        bound = server->bind_to_any_port(host);
    else if (server->bind_to_port(host, port))
        bound = port;
    if (bound <= 0)
        return false;

    d->port = quint16(bound);
    d->server = std::move(server);
    // The socket already listens; connections wait in its backlog until the loop accepts them.
    d->thread = std::thread([server = d->server.get()] { server->listen_after_bind(); });
    return true;
}

void HttpsTestServer::stop() {
    if (!d->server)
        return;
    {
        std::lock_guard lock(d->mutex);
        d->stopping = true;
    }
    d->released.notify_all();
    d->server->stop();
    if (d->thread.joinable())
        d->thread.join();
    d->server.reset();
}

QString HttpsTestServer::address() const {
    return d->address;
}

quint16 HttpsTestServer::port() const {
    return d->port;
}

QString HttpsTestServer::hostAndPort() const {
    return d->address + QLatin1Char(':') + QString::number(d->port);
}

QSslCertificate HttpsTestServer::caCertificate() const {
    return d->caCertificate;
}

void HttpsTestServer::trustInDefaultConfiguration() const {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(d->caCertificate);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

void HttpsTestServer::setAnswer(const QString& path, const TestAnswer& answer) {
    std::lock_guard lock(d->mutex);
    d->answers.insert(path, answer);
}

void HttpsTestServer::setJsonAnswer(const QString& path, const QByteArray& json, int status) {
    TestAnswer answer;
    answer.status = status;
    answer.body = json;
    setAnswer(path, answer);
}

void HttpsTestServer::releaseSilent() {
    {
        std::lock_guard lock(d->mutex);
        ++d->releaseGeneration;
    }
    d->released.notify_all();
}

int HttpsTestServer::silentCount() const {
    std::lock_guard lock(d->mutex);
    return d->silentCount;
}

void HttpsTestServer::clearAnswers() {
    std::lock_guard lock(d->mutex);
    d->answers.clear();
}

QList<RecordedRequest> HttpsTestServer::requests() const {
    std::lock_guard lock(d->mutex);
    return d->requests;
}

int HttpsTestServer::requestCount() const {
    std::lock_guard lock(d->mutex);
    return d->requests.size();
}

void HttpsTestServer::clearRequests() {
    std::lock_guard lock(d->mutex);
    d->requests.clear();
}

} // namespace tavrin::test
