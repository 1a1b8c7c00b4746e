#pragma once
#include "../shell/ShellTestSupport.h"
#include "update/SoftwareUpdateController.h"

#include <QByteArray>
#include <QFile>
#include <QFuture>
#include <QHash>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class QTcpServer;
class QTcpSocket;

// A throwaway self-signed certificate for 127.0.0.1 and localhost, made at test time.
struct TestCertificate {
    QSslCertificate certificate;
    QSslKey key;
    static TestCertificate make();
    // A client configuration that trusts this certificate and nothing else.
    QSslConfiguration trustedOnly() const;
};

// What the server answers on one path.
struct TestAnswer {
    int status = 200;
    QByteArray body;
    QByteArray location;          // a redirect to this URL when set
    bool announceLength = true;   // false: the body ends when the connection closes
    qint64 stallAfter = -1;       // sends this many body bytes, then keeps the connection silent
    qint64 filler = 0;            // instead of `body`: this many bytes, written as the peer reads
    // Where the filler goes: the body, header lines of a head that never ends, or the size line
    // of a chunked body's first chunk.
    enum class Filler { body, headers, chunkSize } fillerIn = Filler::body;
    int dripMs = 0;               // the body one byte at a time, then spaces, without end
    int headDripMs = 0;           // after the status line, one header byte at a time, without end
    int pauseMs = -1;             // the body in `pieces` pieces with a pause after each but the last
    int pieces = 2;
    bool chunked = false;         // the body in chunks, one per piece when paused
    QByteArray encoding;          // a Content-Encoding announced for the body as it stands

    static TestAnswer ok(const QByteArray& body, int status = 200);
    static TestAnswer redirect(int status, const QByteArray& location);
    static TestAnswer stalled(const QByteArray& body, qint64 after);
    static TestAnswer endless(qint64 bytes, Filler in = Filler::body);
    static TestAnswer dripping(const QByteArray& body, int everyMs);
    // A redirect to `location` whose head comes one byte at a time; without one, see headDripMs.
    static TestAnswer slowHead(int everyMs, const QByteArray& location = {});
    static TestAnswer paused(const QByteArray& body, int pauseMs, bool chunked = false, int pieces = 2);
};

// An HTTPS (or, for the http redirect, plain HTTP) server on 127.0.0.1 that answers each GET
// from a table of paths and records what it was asked.
class UpdateTestServer : public QObject {
public:
    struct Request {
        QByteArray path, host, userAgent, accept;
    };

    // Plain HTTP when `certificate` is null.
    explicit UpdateTestServer(const TestCertificate* certificate);
    ~UpdateTestServer() override;

    quint16 port() const;
    QString origin(const QString& host = QStringLiteral("127.0.0.1")) const;
    // The download base on this server: <origin>/tessyn/downloads/.
    QString base() const { return origin() + QStringLiteral("/tessyn/downloads/"); }
    void answer(const QByteArray& path, const TestAnswer& answer) { answers_[path] = answer; }
    // The answer on every path not in the table; 404 unless set.
    void answerElsewhere(const TestAnswer& answer) { elsewhere_ = answer; }

    const QList<Request>& requests() const { return requests_; }
    // Filler bytes handed to the socket for a path so far.
    qint64 fillerSent(const QByteArray& path) const { return fillerSent_.value(path); }
    // Connections on a path the client closed mid-answer; on the empty path, before asking.
    int hungUp(const QByteArray& path) const { return hungUp_.value(path); }

private:
    std::unique_ptr<QTcpServer> server_;
    QHash<QByteArray, TestAnswer> answers_;
    TestAnswer elsewhere_ = TestAnswer::ok("missing", 404);
    QHash<QByteArray, qint64> fillerSent_;
    QHash<QByteArray, int> hungUp_;
    QList<Request> requests_;

    void accept();
    void serve(QTcpSocket* socket, const QByteArray& head);
};

// A controller under test talks to one of these servers, trusts only the test certificate,
// runs version 1.0.0 and keeps its images, openings and alerts inside the test.
class UpdateFixture : public ShellTest {
protected:
    static inline const QByteArray manifestPath = "/tessyn/downloads/latest-macos-universal.json";
    static const TestCertificate& certificate();

    QTemporaryDir scratch;
    UpdateTestServer server{&certificate()};
    QStringList opened;
    QStringList alerts;  // "title|text"
    bool openSucceeds = true;

    std::unique_ptr<SoftwareUpdateController> controllerFor(
        const UpdateTestServer& on, const std::function<void(SoftwareUpdateEnvironment&)>& adjust = {});
    // Serves a manifest for `image` under `version`, and the image at the place it names.
    UpdateManifest publish(UpdateTestServer& on, const QByteArray& image, const std::string& version = "1.4.0");
    QString updates() const;
    // Everything in the updates folder, hidden entries included.
    QStringList leftovers() const;
    static QByteArray stored(const QString& path);
    static std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
    static bool finish(const QFuture<void>& future, int milliseconds = 10000);
};
