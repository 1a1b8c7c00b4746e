#pragma once
#include <QIcon>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

// Icons of installed applications, read lazily: strictly one read at a time, each at least
// 25 ms after the previous load finished (or after it was asked for, on an idle queue), in the
// order asked, and kept in a 128-entry cache keyed by the bundle path and its modification time.
namespace ApplicationIcons {

// Reads the icon of the bundle at a path; a null image means "use the generic icon".
using Reader = std::function<QImage(const QString& bundlePath)>;

// A queued load; cancelling it before its read skips the read and its callback.
class Load {
public:
    void cancel();
    bool cancelled() const { return cancelled_; }
    bool finished() const { return finished_; }

private:
    friend struct Queue;
    QString path_;
    double modified_ = 0;
    std::function<void(const QIcon&)> done_;
    bool cancelled_ = false;
    bool finished_ = false;
};

inline constexpr int cacheLimit = 128;
inline constexpr int readSpacingMs = 25;

// "<path>|<modification time as seconds since 1970>"; `modified` is in seconds since 2001.
QString key(const QString& path, double modified);
// The cached icon for the key, if any.
std::optional<QIcon> cached(const QString& key);
// The icon now: from the cache, else read (a missing bundle gives the generic icon), cached.
QIcon image(const QString& path, double modified);
// Queues a read. A cached icon is handed to `done` at once (no load is returned); otherwise
// `done` is called on the main thread after the queued read, unless the load is cancelled.
std::shared_ptr<Load> load(const QString& path, double modified, std::function<void(const QIcon&)> done);
// The neutral icon shown until a row's icon is ready.
QIcon placeholder();

// The icon file of a bundle: Contents/Resources/<CFBundleIconFile>[.icns], else AppIcon.icns.
QString iconFile(const QString& bundlePath);
// The default reader: the bundle's .icns through the image-format plugins.
QImage readBundleIcon(const QString& bundlePath);
// Replaces the reader and empties the cache (tests use a fake reader).
void setReader(Reader reader);
void clearCache();

} // namespace ApplicationIcons

// The icon of one application in a list row: the cached icon at once, else the placeholder;
// after the row has been on screen for 60 ms it queues a read and shows the result.
class ApplicationIconView : public QWidget {
    Q_OBJECT
public:
    explicit ApplicationIconView(QWidget* parent = nullptr);
    ~ApplicationIconView() override;

    // Another application or a new modification time restarts the lookup.
    void setApplication(const QString& path, double modified);
    bool hasLoadedIcon() const { return loaded_.has_value(); }
    bool loadPending() const { return pending_ && !pending_->finished(); }

    static constexpr int onScreenDelayMs = 60;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QString path_;
    double modified_ = 0;
    QString key_;
    std::optional<QIcon> loaded_;
    std::shared_ptr<ApplicationIcons::Load> pending_;
    QTimer delay_;

    void restart();
    void stop();
    void delayElapsed();
};
