#pragma once
#include "update/UpdateManifest.h"

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUrl;

// Everything the update controller talks to. Empty values stand for the shipped program's own.
// The network is always the controller's own: giving a request up drops every connection of it.
struct SoftwareUpdateEnvironment {
    QString base;                                  // download base; empty: UpdateManifest::base()
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    QString runningVersion;                        // empty: AppVersion::version()
    QString updatesFolder;                         // empty: <data home>/local.tessyn.preview/updates
    std::function<bool(const QString& path)> open; // null: the desktop's opener for the file
    std::function<void(const QString& title, const QString& text)> alert;  // null: a modal message box
    int checkTimeoutMs = 15000;                    // longest silence of the manifest request
    int downloadTimeoutMs = 120000;                // longest silence of the image download
    // Qt buffers a reply's head, and each size line of a chunked body, whole and without limit
    // before handing anything on: each request may spend this long connecting and on such bytes.
    int answerTimeoutMs = 15000;
    int checkDeadlineMs = 30000;                   // longest whole check, redirects included
    // The whole download may take this long plus the image's size at the minimum rate.
    int downloadDeadlineMs = 60000;
    qint64 downloadMinimumRate = 32 * 1024;        // bytes a second
};

// The one software-update controller, shared by the menu, the main view and the settings page:
// checks the update host for a newer version, downloads the installer image into the updates
// folder, verifies its size and SHA-256 and opens it on request. Only https is spoken, with
// the certificate checks of the TLS configuration always on. Every failure ends in `failed`,
// silently.
class SoftwareUpdateController : public QObject {
    Q_OBJECT
public:
    enum class State { idle, checking, current, available, downloading, ready, failed };

    static SoftwareUpdateController& shared();
    // Called first in main, before anything uses OpenSSL. Qt never joins its network thread:
    // deleting a manager waits only for the thread's own work, after which the thread still
    // frees its OpenSSL state. OpenSSL's clean-up among the exit handlers, freeing the same
    // state meanwhile, could crash the program on its way out; the system reclaims it instead.
    static void leaveTlsStateToTheSystemAtExit();

    explicit SoftwareUpdateController(SoftwareUpdateEnvironment environment, QObject* parent = nullptr);
    ~SoftwareUpdateController() override;

    State state() const { return state_; }
    const std::optional<UpdateManifest>& manifest() const { return manifest_; }
    // The verified image in its final place; empty when there is none.
    QString installer() const { return installer_; }
    bool busy() const { return state_ == State::checking || state_ == State::downloading; }
    // The status text of the current state, in the current interface language.
    QString status() const;

    // Each operation's completion finishes when it has ended, also when it refused to start.
    // Fetches and checks the update manifest; refused while a check or download runs.
    QFuture<void> check();
    // The check a start makes by itself: only from idle, and none while the download base is
    // the shipped placeholder that no host serves, which could only end in a network failure.
    QFuture<void> checkAtLaunch();
    // check(), then an alert with the status.
    QFuture<void> checkFromMenu();
    // Downloads, verifies and stores the image of a manifest newer than the running version.
    QFuture<void> download();
    // Verifies the stored image again and hands it to the desktop to open.
    void openInstaller();

    QString downloadBase() const;
    QString updatesFolder() const;
    // Removes from the updates folder the hidden partial images (".Tessyn-<version>.dmg.part-"
    // and six letters or digits) that runs ended by force left; one that a running Tessyn is
    // still storing stays.
    void removeAbandonedDownloads() const;

signals:
    // The state, the manifest or the installer changed.
    void stateChanged();

private:
    struct Transfer;

    SoftwareUpdateEnvironment environment_;
    QNetworkAccessManager* network_ = nullptr;
    State state_ = State::idle;
    std::optional<UpdateManifest> manifest_;
    QString installer_;
    std::unique_ptr<Transfer> transfer_;
    QTimer* deadline_ = nullptr;  // the whole transfer's
    QTimer* unseen_ = nullptr;    // the current request's bytes that Qt keeps to itself

    QString runningVersion() const;
    void setState(State state);
    enum class Fetch { manifest, image };
    // Asks for `url` with the handlers of `fetch`; null when the URL may not be asked.
    QNetworkReply* start(const QUrl& url, Fetch fetch);
    void answered(QNetworkReply* reply, Fetch fetch);
    void follow(QNetworkReply* reply, Fetch fetch);
    void readManifest();
    void readImage();
    void endTransfer(State state);
    void finishCheck();
    void finishDownload();
};
