#include "UpdateTestSupport.h"

#include "TestSupport.h"
#include "engine/Sha256.h"

#include <QDir>
#include <QFile>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

namespace {
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

QByteArray pem(const std::function<int(BIO*)>& write)
{
    Owned<BIO, BIO_free_all> bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) return {};
    char* data = nullptr;
    long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(length));
}
} // namespace

TestCertificate TestCertificate::make()
{
    Owned<EVP_PKEY, EVP_PKEY_free> key(EVP_EC_gen("P-256"));
    Owned<X509, X509_free> x509(X509_new());
    EXPECT_TRUE(key && x509);
    X509_set_version(x509.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x509.get()), static_cast<long>(QDateTime::currentMSecsSinceEpoch() & 0x7fffffff));
    X509_gmtime_adj(X509_getm_notBefore(x509.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 24 * 3600);
    X509_set_pubkey(x509.get(), key.get());
    X509_NAME* name = X509_get_subject_name(x509.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(x509.get(), name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, x509.get(), x509.get(), nullptr, nullptr, 0);
    Owned<X509_EXTENSION, X509_EXTENSION_free> names(
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"));
    X509_add_ext(x509.get(), names.get(), -1);
    EXPECT_GT(X509_sign(x509.get(), key.get(), EVP_sha256()), 0);

    TestCertificate made;
    made.certificate = QSslCertificate(pem([&](BIO* bio) { return PEM_write_bio_X509(bio, x509.get()); }));
    made.key = QSslKey(pem([&](BIO* bio) {
                           return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
                       }),
                       QSsl::Ec);
    EXPECT_FALSE(made.certificate.isNull());
    EXPECT_FALSE(made.key.isNull());
    return made;
}

QSslConfiguration TestCertificate::trustedOnly() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates({certificate});
    return configuration;
}

TestAnswer TestAnswer::ok(const QByteArray& body, int status)
{
    TestAnswer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

TestAnswer TestAnswer::redirect(int status, const QByteArray& location)
{
    TestAnswer answer;
    answer.status = status;
    answer.location = location;
    return answer;
}

TestAnswer TestAnswer::stalled(const QByteArray& body, qint64 after)
{
    TestAnswer answer = ok(body);
    answer.stallAfter = after;
    return answer;
}

TestAnswer TestAnswer::endless(qint64 bytes, Filler in)
{
    TestAnswer answer;
    answer.announceLength = false;
    answer.filler = bytes;
    answer.fillerIn = in;
    return answer;
}

TestAnswer TestAnswer::dripping(const QByteArray& body, int everyMs)
{
    TestAnswer answer = ok(body);
    answer.announceLength = false;
    answer.dripMs = everyMs;
    return answer;
}

TestAnswer TestAnswer::slowHead(int everyMs, const QByteArray& location)
{
    TestAnswer answer = location.isEmpty() ? TestAnswer{} : redirect(302, location);
    answer.headDripMs = everyMs;
    return answer;
}

TestAnswer TestAnswer::paused(const QByteArray& body, int pauseMs, bool chunked, int pieces)
{
    TestAnswer answer = ok(body);
    answer.pauseMs = pauseMs;
    answer.pieces = pieces;
    answer.chunked = chunked;
    answer.announceLength = !chunked;
    return answer;
}

UpdateTestServer::UpdateTestServer(const TestCertificate* certificate)
{
    if (certificate) {
        auto* secure = new QSslServer();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(certificate->certificate);
        configuration.setPrivateKey(certificate->key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);  // no client certificates
        secure->setSslConfiguration(configuration);
        server_.reset(secure);
    } else {
        server_ = std::make_unique<QTcpServer>();
    }
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, &UpdateTestServer::accept);
    EXPECT_TRUE(server_->listen(QHostAddress::LocalHost, 0));
}

UpdateTestServer::~UpdateTestServer() = default;

quint16 UpdateTestServer::port() const { return server_->serverPort(); }

QString UpdateTestServer::origin(const QString& host) const
{
    const bool secure = qobject_cast<QSslServer*>(server_.get()) != nullptr;
    return (secure ? QStringLiteral("https://") : QStringLiteral("http://")) + host + QLatin1Char(':') +
           QString::number(port());
}

void UpdateTestServer::accept()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        auto head = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, head] {
            if (head->endsWith("\r\n\r\n")) return;  // one request per connection
            *head += socket->readAll();
            if (head->contains("\r\n\r\n")) serve(socket, head->left(head->indexOf("\r\n\r\n") + 4));
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, head] { if (!head->contains("\r\n\r\n")) ++hungUp_[{}]; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void UpdateTestServer::serve(QTcpSocket* socket, const QByteArray& head)
{
    Request request;
    const QList<QByteArray> lines = head.split('\n');
    request.path = lines.value(0).split(' ').value(1);
    for (const QByteArray& raw : lines) {
        const QByteArray line = raw.trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) continue;
        const QByteArray name = line.left(colon).trimmed().toLower(), value = line.mid(colon + 1).trimmed();
        if (name == "host") request.host = value;
        if (name == "user-agent") request.userAgent = value;
        if (name == "accept") request.accept = value;
    }
    requests_.append(request);

    const TestAnswer answer = answers_.value(request.path, elsewhere_);
    const QByteArray path = request.path;
    // Ended by the server itself, or by the client while the answer was still being written.
    auto end = [socket] {
        socket->setProperty("answered", true);
        socket->disconnectFromHost();
    };
    connect(socket, &QTcpSocket::disconnected, this, [this, socket, path] {
        if (!socket->property("answered").toBool()) ++hungUp_[path];
    });
    // Writes `text` one byte every `everyMs`, then `then` without end, or ends when `then` is 0.
    auto drip = [socket, end](const QByteArray& text, char then, int everyMs) {
        auto* timer = new QTimer(socket);
        connect(timer, &QTimer::timeout, socket, [socket, timer, end, text, then, position = qsizetype(0)]() mutable {
            if (position < text.size()) socket->write(text.mid(position++, 1));
            else if (then) socket->write(QByteArray(1, then));
            else {
                timer->stop();
                end();
            }
        });
        timer->start(everyMs);
    };

    const qint64 length = answer.filler > 0 ? answer.filler : answer.body.size();
    QByteArray response = "HTTP/1.1 " + QByteArray::number(answer.status) + " X\r\nConnection: close\r\n";
    if (!answer.location.isEmpty()) response += "Location: " + answer.location + "\r\n";
    if (answer.announceLength) response += "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (answer.chunked || answer.fillerIn == TestAnswer::Filler::chunkSize) response += "Transfer-Encoding: chunked\r\n";
    if (!answer.encoding.isEmpty()) response += "Content-Encoding: " + answer.encoding + "\r\n";
    if (answer.headDripMs > 0) {
        // A redirect's head ends; any other head goes on with one header line that never does.
        if (answer.location.isEmpty()) drip(response + "X-Drip: ", 'a', answer.headDripMs);
        else drip(response + "\r\n", 0, answer.headDripMs);
        return;
    }
    socket->write(answer.filler > 0 && answer.fillerIn == TestAnswer::Filler::headers ? response : response + "\r\n");
    if (answer.dripMs > 0) return drip(answer.body, ' ', answer.dripMs);
    if (answer.filler > 0) {
        // Written as the peer takes it, so a client that stops early leaves most of it unsent.
        QByteArray piece;
        if (answer.fillerIn == TestAnswer::Filler::headers)
            piece = QByteArray("X-Pad: " + QByteArray(55, 'a') + "\r\n").repeated(1024);
        else piece = QByteArray(64 * 1024, answer.fillerIn == TestAnswer::Filler::chunkSize ? '0' : 'x');
        auto* secure = qobject_cast<QSslSocket*>(socket);
        auto more = [this, socket, secure, path, piece, end, total = answer.filler] {
            qint64& sent = fillerSent_[path];
            // A TLS socket encrypts at once; what waits is its encrypted buffer.
            auto pending = [&] { return socket->bytesToWrite() + (secure ? secure->encryptedBytesToWrite() : 0); };
            while (sent < total && pending() < 256 * 1024) {
                const qint64 count = std::min<qint64>(piece.size(), total - sent);
                socket->write(piece.left(count));
                sent += count;
            }
            if (sent >= total && pending() == 0) end();
        };
        connect(socket, &QTcpSocket::bytesWritten, this, more);
        if (secure) connect(secure, &QSslSocket::encryptedBytesWritten, this, more);
        more();
        return;
    }
    if (answer.stallAfter >= 0) {
        socket->write(answer.body.left(answer.stallAfter));
        return;
    }
    if (answer.pauseMs >= 0) {
        const qsizetype size = answer.body.size() / answer.pieces;
        for (int index = 0; index < answer.pieces; ++index) {
            const bool last = index == answer.pieces - 1;
            QByteArray piece = last ? answer.body.mid(index * size) : answer.body.mid(index * size, size);
            if (answer.chunked) piece = QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n" + (last ? "0\r\n\r\n" : "");
            QTimer::singleShot(index * answer.pauseMs, socket, [socket, end, piece, last] {
                socket->write(piece);
                if (last) end();
            });
        }
        return;
    }
    socket->write(answer.body);
    end();
}

const TestCertificate& UpdateFixture::certificate()
{
    static const TestCertificate made = TestCertificate::make();
    return made;
}

std::unique_ptr<SoftwareUpdateController> UpdateFixture::controllerFor(const UpdateTestServer& on,
                                                                      const std::function<void(SoftwareUpdateEnvironment&)>& adjust)
{
    SoftwareUpdateEnvironment environment;
    environment.base = on.base();
    environment.tls = certificate().trustedOnly();
    environment.runningVersion = QStringLiteral("1.0.0");
    environment.updatesFolder = updates();
    environment.open = [this](const QString& path) {
        opened.append(path);
        return openSucceeds;
    };
    environment.alert = [this](const QString& title, const QString& text) { alerts.append(title + "|" + text); };
    environment.checkTimeoutMs = 5000;
    environment.downloadTimeoutMs = 5000;
    if (adjust) adjust(environment);
    return std::make_unique<SoftwareUpdateController>(environment);
}

UpdateManifest UpdateFixture::publish(UpdateTestServer& on, const QByteArray& image, const std::string& version)
{
    Sha256 hash;
    hash.update(image.constData(), static_cast<size_t>(image.size()));
    const std::string name = "Tessyn-" + version + ".dmg";
    UpdateManifest manifest{1, version, "macos-universal", on.base().toStdString() + name, Sha256::hex(hash.finish()),
                            image.size()};
    on.answer(manifestPath, TestAnswer::ok(QByteArray::fromStdString(manifest.encode())));
    on.answer(QByteArray::fromStdString("/tessyn/downloads/" + name), TestAnswer::ok(image));
    return manifest;
}

QString UpdateFixture::updates() const { return scratch.path() + QStringLiteral("/updates"); }

QStringList UpdateFixture::leftovers() const
{
    return QDir(updates()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray UpdateFixture::stored(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool UpdateFixture::finish(const QFuture<void>& future, int milliseconds)
{
    return QTest::qWaitFor([&] { return future.isFinished(); }, milliseconds);
}
