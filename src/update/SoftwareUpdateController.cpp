#include "update/SoftwareUpdateController.h"

#include "platform/FdCloser.h"
#include "platform/FileWrites.h"
#include "platform/FolderNames.h"
#include "platform/Locations.h"
#include "platform/PathText.h"
#include "shell/app/AppSettings.h"
#include "shell/app/AppVersion.h"
#include "shell/style/BrandArtwork.h"
#include "shell/LocalizedText.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPromise>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <system_error>
#include <vector>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The manifest body must stay below this many bytes.
constexpr qint64 manifestLimit = 16384;
constexpr qint64 readBuffer = 256 * 1024;
// As many redirects as a browser follows.
constexpr int maximumRedirects = 20;

bool isRedirect(int status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

std::string localPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Names under ".invalid" never resolve (RFC 6761); asking a resolver would only leak the name.
bool neverResolves(const QUrl& url)
{
    const QString host = url.host();
    return host == QLatin1String("invalid") || host.endsWith(QLatin1String(".invalid"));
}

// The nearest folder at or above `path` that exists.
std::string existingFolderAt(std::string path)
{
    while (true) {
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return path;
        path = parentOf(path);
        if (path == "." || path == "/") return path;
    }
}

// The download goes to a file without a name, on the file system of the updates folder but
// without creating that folder: nothing is left of it however the program ends, and the
// folder appears only once there is a verified image to store.
int unnamedFileNear(const std::string& folder)
{
    const std::string parent = existingFolderAt(folder);
    int fd = ::open(parent.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    // A file system without unnamed files: a hidden name, unlinked at once.
    std::string pattern = parent + "/.Tessyn-download-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(pattern.c_str());
    return fd;
}

constexpr std::string_view partialPrefix = ".Tessyn-";
constexpr std::string_view partialInfix = ".dmg.part-";

// The name of a partial copy: ".Tessyn-", a version, ".dmg.part-" and the six letters or
// digits that mkostemp chose.
bool isPartialCopyName(std::string_view name)
{
    if (!name.starts_with(partialPrefix)) return false;
    const size_t infix = name.rfind(partialInfix);
    if (infix == std::string_view::npos || infix < partialPrefix.size()) return false;
    const std::string_view version = name.substr(partialPrefix.size(), infix - partialPrefix.size());
    const std::string_view suffix = name.substr(infix + partialInfix.size());
    auto alphanumeric = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    return UpdateManifest::components(version) && suffix.size() == 6 &&
           std::all_of(suffix.begin(), suffix.end(), alphanumeric);
}

// Copies the verified image beside its final place under a hidden name and renames the copy
// over `destination`, so an image of the same version is only ever replaced by a whole one.
// The copy is locked while it has a name, so that a Tessyn starting meanwhile leaves it alone,
// and it is removed on every way out.
bool storeImage(int image, int64_t bytes, const std::string& folder, const std::string& version,
                const std::string& destination)
{
    std::string partial = folder + "/" + std::string(partialPrefix) + version + std::string(partialInfix) + "XXXXXX";
    const int fd = ::mkostemp(partial.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool stored = false;
    try {
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) throw std::system_error(errno, std::generic_category());
        std::vector<char> buffer(1 << 20);
        for (int64_t offset = 0; offset < bytes;) {
            const ssize_t count = ::pread(image, buffer.data(), std::min<int64_t>(buffer.size(), bytes - offset), offset);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) throw std::system_error(count < 0 ? errno : EIO, std::generic_category());
            writeAll(fd, std::string_view(buffer.data(), static_cast<size_t>(count)));
            offset += count;
        }
        stored = ::fsync(fd) == 0 && ::rename(partial.c_str(), destination.c_str()) == 0;
    } catch (const std::system_error&) {
    }
    if (!stored) ::unlink(partial.c_str());
    ::close(fd);
    return stored;
}

// The bytes all land in the file, or the transfer is refused.
bool writeChunk(int fd, const QByteArray& chunk)
{
    try {
        writeAll(fd, std::string_view(chunk.constData(), static_cast<size_t>(chunk.size())));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void presentAlert(const QString& title, const QString& text)
{
    QMessageBox box;
    box.setWindowIcon(BrandArtwork::image());
    box.setIconPixmap(BrandArtwork::image().pixmap(64, 64));
    box.setText(title);
    box.setInformativeText(text);
    box.addButton(L(QStringLiteral("确定")), QMessageBox::AcceptRole);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

} // namespace

// One request in flight with what it has produced so far. Whatever way it ends, the reply is
// ended, the image's unnamed file closed and the completion finished.
struct SoftwareUpdateController::Transfer {
    SoftwareUpdateController* owner;  // whose handlers the reply drives
    QPointer<QNetworkReply> reply;
    QPromise<void> promise;
    QByteArray body;          // the manifest
    int fd = -1;              // the image, until it is verified and stored
    qint64 received = 0;
    qint64 limit = 0;         // the most bytes the body may have
    int redirects = 0;        // hops followed so far
    bool refused = false;     // ended by the controller itself
    bool chunked = false;     // the current answer's body comes in chunks
    bool answered = false;    // ended other than in failure: its connection may serve again

    explicit Transfer(SoftwareUpdateController* owner) : owner(owner) { promise.start(); }
    ~Transfer()
    {
        release();
        if (fd >= 0) ::close(fd);
        promise.finish();
    }

    // Ends the reply and, when given up, its connection; once, before anything can start the
    // next request, which dropping the connections would cut.
    void release()
    {
        if (released) return;
        released = true;
        if (reply) {
            // Only the owner's handlers: the reply's abort reaches the connection through Qt's
            // own, and without them the connection stays open and goes on reading.
            QObject::disconnect(reply, nullptr, owner, nullptr);
            // Qt takes a second error for an internal fault: a reply that reported one is
            // ended by its deletion.
            if (reply->error() == QNetworkReply::NoError) reply->abort();
            reply->deleteLater();
        }
        // The abort closes only a connection that carries the request. One still connecting
        // or in its TLS handshake holds the request queued: it stays open, and every later
        // request to the host queues behind it. Dropping the manager's connections closes it;
        // no other request runs on the controller's own manager.
        if (!answered && owner->network_) owner->network_->clearConnectionCache();
    }

private:
    bool released = false;
};

void SoftwareUpdateController::leaveTlsStateToTheSystemAtExit()
{
    // Only the first initialisation decides whether OpenSSL registers its exit handler.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

SoftwareUpdateController& SoftwareUpdateController::shared()
{
    static auto* controller = new SoftwareUpdateController(SoftwareUpdateEnvironment{});
    return *controller;
}

SoftwareUpdateController::SoftwareUpdateController(SoftwareUpdateEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment))
{
    network_ = new QNetworkAccessManager(this);
    // Qt's own timeout waits only for the next byte of a body. A host that drips the body is
    // ended by the deadline; one that sends what Qt buffers unseen, by the answer timeout.
    for (QTimer** timer : {&deadline_, &unseen_}) {
        *timer = new QTimer(this);
        (*timer)->setSingleShot(true);
        connect(*timer, &QTimer::timeout, this, [this] {
            if (transfer_) endTransfer(State::failed);
        });
    }
    // Certificate checks stay on whatever configuration was handed in.
    environment_.tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    // The shared controller is never destroyed, so its own network would outlive the event
    // loop: its HTTP thread would still hold TLS connections while the exit handlers free
    // OpenSSL's state. It goes, with its thread joined, when the program quits.
    if (QCoreApplication::instance()) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this, [this] {
            transfer_.reset();
            delete network_;
            network_ = nullptr;
        });
    }
}

SoftwareUpdateController::~SoftwareUpdateController() = default;

QString SoftwareUpdateController::downloadBase() const
{
    return environment_.base.isEmpty() ? QString::fromStdString(UpdateManifest::base()) : environment_.base;
}

QString SoftwareUpdateController::updatesFolder() const
{
    if (!environment_.updatesFolder.isEmpty()) return environment_.updatesFolder;
    return QFile::decodeName(QByteArray::fromStdString(Locations::dataHome())) +
           QStringLiteral("/local.tessyn.preview/updates");
}

void SoftwareUpdateController::removeAbandonedDownloads() const
{
    const int at = ::open(localPath(updatesFolder()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (at < 0) return;
    FdCloser folder{at};
    for (const std::string& name : listFolder(at).names) {
        if (!isPartialCopyName(name.c_str())) continue;
        const int fd = ::openat(at, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        // A copy that a running Tessyn is storing is locked.
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlinkat(at, name.c_str(), 0);
        ::close(fd);
    }
}

QString SoftwareUpdateController::runningVersion() const
{
    return environment_.runningVersion.isEmpty() ? AppVersion::version() : environment_.runningVersion;
}

QString SoftwareUpdateController::status() const
{
    switch (state_) {
    case State::idle: return L(QStringLiteral("检查是否有新的 Tessyn 版本。"));
    case State::checking: return L(QStringLiteral("正在检查更新…"));
    case State::current: return L(QStringLiteral("已经是最新版本。"));
    case State::available: {
        // Built in each language directly: the version is not part of any catalog entry.
        const QString version = manifest_ ? QString::fromStdString(manifest_->version) : QString();
        if (currentLanguage() == AppLanguage::english) return QStringLiteral("Version ") + version + QStringLiteral(" is available.");
        return QStringLiteral("发现新版本 ") + version + QStringLiteral("。");
    }
    case State::downloading: return L(QStringLiteral("正在下载并校验安装包…"));
    case State::ready: return L(QStringLiteral("校验通过，可以打开安装包。"));
    case State::failed: return L(QStringLiteral("更新检查或下载失败。请检查网络后重试。"));
    }
    return {};
}

void SoftwareUpdateController::setState(State state)
{
    state_ = state;
    emit stateChanged();
}

QNetworkReply* SoftwareUpdateController::start(const QUrl& url, Fetch fetch)
{
    if (!network_ || !url.isValid() || url.scheme() != QLatin1String("https") || url.host().isEmpty() ||
        neverResolves(url))
        return nullptr;
    const bool manifest = fetch == Fetch::manifest;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         manifest ? QNetworkRequest::AlwaysNetwork : QNetworkRequest::PreferNetwork);
    // Redirects are followed here, one request per hop, each checked before it is asked: Qt's
    // user-verified following repeats the request of every hop after the first.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(manifest ? environment_.checkTimeoutMs : environment_.downloadTimeoutMs);
    if (manifest) request.setRawHeader("Accept", "application/json");
    request.setRawHeader("User-Agent", "Tessyn/" + runningVersion().toUtf8());
    request.setSslConfiguration(environment_.tls);
    QNetworkReply* reply = network_->get(request);
    reply->setReadBufferSize(readBuffer);
    unseen_->start(environment_.answerTimeoutMs);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply, fetch] {
        if (transfer_ && transfer_->reply == reply) answered(reply, fetch);
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, fetch] {
        if (!transfer_ || transfer_->reply != reply) return;
        if (fetch == Fetch::manifest) readManifest();
        else readImage();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, fetch] {
        if (!transfer_ || transfer_->reply != reply) return;
        if (fetch == Fetch::manifest) finishCheck();
        else finishDownload();
    });
    // A body Qt cannot decode is reported at once, but the reply finishes only when Qt's
    // transfer timeout runs out: an error ends the transfer. Queued, so that a reply that
    // finishes with its error ends through its finish, and no reply is aborted from inside
    // its own signal.
    connect(
        reply, &QNetworkReply::errorOccurred, this,
        [this, failing = QPointer<QNetworkReply>(reply)] {
            if (failing && transfer_ && transfer_->reply == failing) endTransfer(State::failed);
        },
        Qt::QueuedConnection);
    return reply;
}

void SoftwareUpdateController::answered(QNetworkReply* reply, Fetch fetch)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (isRedirect(status) && reply->hasRawHeader("Location")) return follow(reply, fetch);
    // Qt buffers a chunk's size line whole, however long: such a body must keep coming.
    transfer_->chunked = reply->rawHeader("Transfer-Encoding").toLower().contains("chunked");
    if (transfer_->chunked) unseen_->start(environment_.answerTimeoutMs);
    else unseen_->stop();
    // A body announced larger than allowed is refused before it arrives.
    bool known = false;
    const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    if (known && length > transfer_->limit) {
        transfer_->refused = true;
        reply->abort();
    }
}

void SoftwareUpdateController::follow(QNetworkReply* reply, Fetch fetch)
{
    // Every hop stays on https. The image's hops also stay under the base by the manifest's own
    // rule, checked before they are asked: a server resolves "%2E%2E" where the text shows
    // none. The manifest's last hop is checked for its host when the reply ends.
    const QUrl next = reply->url().resolved(QUrl(QString::fromUtf8(reply->rawHeader("Location"))));
    const bool underBase =
        fetch == Fetch::manifest ||
        UpdateManifest::liesUnder(next.toString(QUrl::FullyEncoded).toStdString(), downloadBase().toStdString());
    QNetworkReply* following = underBase && ++transfer_->redirects <= maximumRedirects ? start(next, fetch) : nullptr;
    if (!following) {
        transfer_->refused = true;
        reply->abort();
        return;
    }
    // The redirect's own body is never read.
    transfer_->reply = following;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

void SoftwareUpdateController::endTransfer(State state)
{
    // A deferred end may find the transfer already gone (torn down at quit): nothing is left to end.
    if (!transfer_) return;
    // The transfer goes first, so its completion finishes after the last state change.
    std::unique_ptr<Transfer> ended = std::move(transfer_);
    ended->answered = state != State::failed;
    ended->release();
    deadline_->stop();
    unseen_->stop();
    setState(state);
    ended.reset();
}

QFuture<void> SoftwareUpdateController::check()
{
    if (busy()) return QtFuture::makeReadyFuture();
    manifest_.reset();
    installer_.clear();
    transfer_ = std::make_unique<Transfer>(this);
    transfer_->limit = manifestLimit - 1;
    QFuture<void> done = transfer_->promise.future();
    deadline_->start(environment_.checkDeadlineMs);
    setState(State::checking);

    QNetworkReply* reply = start(
        QUrl(QString::fromStdString(UpdateManifest::manifestUrl(downloadBase().toStdString())), QUrl::StrictMode),
        Fetch::manifest);
    if (!reply) {
        QTimer::singleShot(0, this, [this] { endTransfer(State::failed); });
        return done;
    }
    transfer_->reply = reply;
    return done;
}

void SoftwareUpdateController::readManifest()
{
    QNetworkReply* reply = transfer_->reply;
    const QByteArray chunk = reply->readAll();
    if (transfer_->chunked && !chunk.isEmpty()) unseen_->start(environment_.answerTimeoutMs);
    transfer_->body += chunk;
    // Stop reading at the limit instead of measuring a body read whole.
    if (transfer_->body.size() > transfer_->limit) {
        transfer_->refused = true;
        reply->abort();
    }
}

void SoftwareUpdateController::finishCheck()
{
    QNetworkReply* reply = transfer_->reply;
    if (!transfer_->refused && reply->isOpen()) transfer_->body += reply->readAll();
    const QUrl final = reply->url();
    const QUrl base(downloadBase());
    const bool answered = !transfer_->refused && reply->error() == QNetworkReply::NoError &&
                          reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200 &&
                          transfer_->body.size() <= transfer_->limit;
    const bool sameHost = final.isValid() && final.scheme() == QLatin1String("https") && !final.host().isEmpty() &&
                          final.host() == base.host();
    if (!answered || !sameHost) return endTransfer(State::failed);
    try {
        UpdateManifest manifest = UpdateManifest::decode(transfer_->body.toStdString());
        manifest.validate(downloadBase().toStdString());
        manifest_ = std::move(manifest);
    } catch (...) {
        // Which rule failed is dropped: every failure reads the same.
        return endTransfer(State::failed);
    }
    const bool newer = UpdateManifest::isOlder(runningVersion().toStdString(), manifest_->version);
    endTransfer(newer ? State::available : State::current);
}

QFuture<void> SoftwareUpdateController::checkAtLaunch()
{
    if (state_ != State::idle || neverResolves(QUrl(downloadBase()))) return QtFuture::makeReadyFuture();
    return check();
}

QFuture<void> SoftwareUpdateController::checkFromMenu()
{
    auto promise = std::make_shared<QPromise<void>>();
    promise->start();
    QFuture<void> checked = check();
    auto report = [this, promise] {
        const QString title = L(QStringLiteral("软件更新"));
        if (environment_.alert) environment_.alert(title, status());
        else presentAlert(title, status());
        promise->finish();
    };
    // Also when the check was refused as busy: the alert then tells what is under way.
    auto* watcher = new QFutureWatcher<void>(this);
    connect(watcher, &QFutureWatcher<void>::finished, this, [watcher, report] {
        watcher->deleteLater();
        report();
    });
    watcher->setFuture(checked);
    return promise->future();
}

QFuture<void> SoftwareUpdateController::download()
{
    if (busy() || !manifest_ || !UpdateManifest::isOlder(runningVersion().toStdString(), manifest_->version))
        return QtFuture::makeReadyFuture();
    installer_.clear();
    transfer_ = std::make_unique<Transfer>(this);
    transfer_->limit = manifest_->bytes;
    QFuture<void> done = transfer_->promise.future();
    // A slow host is given time in proportion to the image, never without end.
    const qint64 rate = std::max<qint64>(1, environment_.downloadMinimumRate);
    deadline_->start(static_cast<int>(std::min<qint64>(
        std::numeric_limits<int>::max(), environment_.downloadDeadlineMs + manifest_->bytes * 1000 / rate)));
    setState(State::downloading);

    auto fail = [this, &done] {
        QTimer::singleShot(0, this, [this] { endTransfer(State::failed); });
        return done;
    };
    try {
        manifest_->validate(downloadBase().toStdString());
    } catch (...) {
        return fail();
    }
    const int fd = unnamedFileNear(localPath(updatesFolder()));
    if (fd < 0) return fail();
    transfer_->fd = fd;

    QNetworkReply* reply = start(QUrl(QString::fromStdString(manifest_->url), QUrl::StrictMode), Fetch::image);
    if (!reply) return fail();
    transfer_->reply = reply;
    return done;
}

void SoftwareUpdateController::readImage()
{
    QNetworkReply* reply = transfer_->reply;
    QByteArray chunk = reply->readAll();
    if (transfer_->chunked && !chunk.isEmpty()) unseen_->start(environment_.answerTimeoutMs);
    transfer_->received += chunk.size();
    // More than the manifest's size is not the image: stop at once.
    if (transfer_->received > transfer_->limit || !writeChunk(transfer_->fd, chunk)) {
        transfer_->refused = true;
        reply->abort();
    }
}

void SoftwareUpdateController::finishDownload()
{
    Transfer& transfer = *transfer_;
    QNetworkReply* reply = transfer.reply;
    if (!transfer.refused && reply->isOpen()) {
        QByteArray rest = reply->readAll();
        transfer.received += rest.size();
        if (transfer.received > transfer.limit || !writeChunk(transfer.fd, rest))
            transfer.refused = true;
    }
    const QUrl final = reply->url();
    const std::string finalText = final.toString(QUrl::FullyEncoded).toStdString();
    const bool answered = !transfer.refused && reply->error() == QNetworkReply::NoError &&
                          reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200;
    const bool insideBase = final.isValid() && final.scheme() == QLatin1String("https") &&
                            UpdateManifest::liesUnder(finalText, downloadBase().toStdString());
    if (!answered || !insideBase) return endTransfer(State::failed);

    // Read back from its file and checked before anything is stored.
    try {
        manifest_->verifyOpenFile(transfer.fd);
    } catch (...) {
        return endTransfer(State::failed);
    }
    const QString folder = updatesFolder();
    const QString destination =
        folder + QStringLiteral("/Tessyn-") + QString::fromStdString(manifest_->version) + QStringLiteral(".dmg");
    if (!QDir().mkpath(folder) ||
        !storeImage(transfer.fd, manifest_->bytes, localPath(folder), manifest_->version, localPath(destination)))
        return endTransfer(State::failed);
    syncFolder(localPath(folder));
    installer_ = destination;
    endTransfer(State::ready);
}

void SoftwareUpdateController::openInstaller()
{
    if (state_ != State::ready || installer_.isEmpty() || !manifest_) return;
    try {
        manifest_->verifyFile(localPath(installer_));
    } catch (...) {
        return setState(State::failed);
    }
    const bool opened = environment_.open ? environment_.open(installer_)
                                          : QDesktopServices::openUrl(QUrl::fromLocalFile(installer_));
    if (!opened) setState(State::failed);
}
