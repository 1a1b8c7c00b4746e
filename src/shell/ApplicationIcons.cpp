#include "shell/ApplicationIcons.h"

#include "engine/Dates.h"
#include "platform/PropertyList.h"
#include "shell/style/SymbolIcon.h"

#include <QCache>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <charconv>
#include <deque>

namespace ApplicationIcons {

struct Queue {
    std::deque<std::shared_ptr<Load>> waiting;
    std::shared_ptr<Load> active;  // sleeping its 25 ms before reading
    QTimer* timer = nullptr;
    Reader reader;
    QCache<QString, QIcon> cache{cacheLimit};

    static Queue& shared()
    {
        static Queue* queue = new Queue();
        return *queue;
    }

    QTimer& sleepTimer()
    {
        if (!timer) {
            timer = new QTimer(QCoreApplication::instance());
            timer->setSingleShot(true);
            timer->setTimerType(Qt::PreciseTimer);
            QObject::connect(timer, &QTimer::timeout, [] { shared().wake(); });
        }
        return *timer;
    }

    // The next load in line starts its sleep; cancelled ones finish at once without reading.
    void advance()
    {
        while (!active && !waiting.empty()) {
            auto next = waiting.front();
            waiting.pop_front();
            if (next->cancelled_) {
                next->finished_ = true;
                continue;
            }
            active = next;
            sleepTimer().start(readSpacingMs);
        }
    }

    void wake()
    {
        auto current = std::move(active);
        active.reset();
        if (current && !current->cancelled_) {
            QIcon icon = image(current->path_, current->modified_);
            current->finished_ = true;
            auto done = std::move(current->done_);
            if (done) done(icon);
        }
        advance();
    }

    std::shared_ptr<Load> enqueue(const QString& path, double modified, std::function<void(const QIcon&)> done)
    {
        auto entry = std::make_shared<Load>();
        entry->path_ = path;
        entry->modified_ = modified;
        entry->done_ = std::move(done);
        waiting.push_back(entry);
        advance();
        return entry;
    }

    void cancel(Load* load)
    {
        if (load->finished_ || load->cancelled_) return;
        load->cancelled_ = true;
        load->done_ = nullptr;
        if (active.get() == load) {
            // Its sleep ends early; the loads behind it go on.
            sleepTimer().stop();
            active->finished_ = true;
            active.reset();
            advance();
        }
    }
};

void Load::cancel() { Queue::shared().cancel(this); }

QString key(const QString& path, double modified)
{
    double seconds = unixTimeFromDate(modified);
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, seconds, std::chars_format::fixed);
    std::string number = ec == std::errc() ? std::string(buf, end) : std::to_string(seconds);
    if (number.find('.') == std::string::npos) number += ".0";
    return path + QLatin1Char('|') + QString::fromStdString(number);
}

std::optional<QIcon> cached(const QString& key)
{
    if (QIcon* icon = Queue::shared().cache.object(key)) return *icon;
    return std::nullopt;
}

QIcon placeholder()
{
    QIcon symbol = SymbolIcon::icon(QStringLiteral("app.fill"));
    if (!symbol.isNull()) return symbol;
    QPixmap empty(32, 32);
    empty.fill(Qt::transparent);
    return QIcon(empty);
}

QString iconFile(const QString& bundlePath)
{
    QDir resources(bundlePath + QStringLiteral("/Contents/Resources"));
    QString name;
    // Info.plist files are small; a huge one is not worth reading for an icon.
    PropertyList::Ptr root =
        PropertyList::readFile(QFile::encodeName(bundlePath + QStringLiteral("/Contents/Info.plist")).toStdString());
    if (root && plist_get_node_type(root.get()) == PLIST_DICT) {
        if (auto value = PropertyList::stringValue(root.get(), "CFBundleIconFile"))
            name = QString::fromUtf8(value->c_str());
    }
    if (!name.isEmpty() && !name.contains(QLatin1Char('/'))) {
        if (QFileInfo(name).suffix().isEmpty()) name += QStringLiteral(".icns");
        QString candidate = resources.filePath(name);
        if (QFileInfo(candidate).isFile()) return candidate;
    }
    QString fallback = resources.filePath(QStringLiteral("AppIcon.icns"));
    return QFileInfo(fallback).isFile() ? fallback : QString();
}

QImage readBundleIcon(const QString& bundlePath)
{
    QString file = iconFile(bundlePath);
    if (file.isEmpty()) return {};
    QImageReader reader(file);
    reader.setAutoTransform(true);
    return reader.read();
}

// The generic application symbol in the accent colour, whatever the desktop's theme offers:
// a bundle without artwork must still read as an application, not as a blank tile.
static QIcon genericIcon()
{
    QIcon symbol = SymbolIcon::accented(QStringLiteral("app.generic"));
    return symbol.isNull() ? placeholder() : symbol;
}

QIcon image(const QString& path, double modified)
{
    QString k = key(path, modified);
    if (auto icon = cached(k)) return *icon;
    Queue& queue = Queue::shared();
    QIcon icon;
    if (QFileInfo::exists(path)) {
        QImage read = queue.reader ? queue.reader(path) : readBundleIcon(path);
        icon = read.isNull() ? genericIcon() : QIcon(QPixmap::fromImage(read));
    } else {
        icon = placeholder();
    }
    queue.cache.insert(k, new QIcon(icon));
    return icon;
}

std::shared_ptr<Load> load(const QString& path, double modified, std::function<void(const QIcon&)> done)
{
    if (auto icon = cached(key(path, modified))) {
        if (done) done(*icon);
        return nullptr;
    }
    return Queue::shared().enqueue(path, modified, std::move(done));
}

void setReader(Reader reader)
{
    Queue::shared().reader = std::move(reader);
    clearCache();
}

void clearCache() { Queue::shared().cache.clear(); }

} // namespace ApplicationIcons

ApplicationIconView::ApplicationIconView(QWidget* parent) : QWidget(parent)
{
    delay_.setSingleShot(true);
    delay_.setInterval(onScreenDelayMs);
    connect(&delay_, &QTimer::timeout, this, &ApplicationIconView::delayElapsed);
}

ApplicationIconView::~ApplicationIconView() { stop(); }

void ApplicationIconView::setApplication(const QString& path, double modified)
{
    QString k = ApplicationIcons::key(path, modified);
    path_ = path;
    modified_ = modified;
    if (k == key_) return;
    key_ = k;
    restart();
}

void ApplicationIconView::stop()
{
    delay_.stop();
    if (pending_) pending_->cancel();
    pending_.reset();
}

void ApplicationIconView::restart()
{
    stop();
    loaded_ = key_.isEmpty() ? std::nullopt : ApplicationIcons::cached(key_);
    update();
    if (!loaded_ && !key_.isEmpty() && isVisible()) delay_.start();
}

void ApplicationIconView::delayElapsed()
{
    // Scrolled out of sight meanwhile: ask again when painted next.
    if (!isVisible() || visibleRegion().isEmpty()) return;
    QPointer<ApplicationIconView> self(this);
    QString key = key_;
    pending_ = ApplicationIcons::load(path_, modified_, [self, key](const QIcon& icon) {
        if (!self || self->key_ != key) return;
        self->loaded_ = icon;
        self->update();
    });
}

void ApplicationIconView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!loaded_ && !key_.isEmpty() && !loadPending() && !delay_.isActive()) restart();
}

void ApplicationIconView::hideEvent(QHideEvent* event)
{
    stop();
    QWidget::hideEvent(event);
}

void ApplicationIconView::paintEvent(QPaintEvent*)
{
    QIcon icon;
    // The placeholder is drawn subdued so it reads as "not ready", not as an icon.
    QIcon::Mode mode = QIcon::Normal;
    if (loaded_) {
        icon = *loaded_;
    } else if (auto hit = key_.isEmpty() ? std::nullopt : ApplicationIcons::cached(key_)) {
        icon = *hit;
    } else {
        icon = ApplicationIcons::placeholder();
        mode = QIcon::Disabled;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    icon.paint(&p, rect(), Qt::AlignCenter, mode);
    // On screen without an icon and nothing queued: the 60 ms wait starts now.
    if (!loaded_ && !key_.isEmpty() && !loadPending() && !delay_.isActive()) delay_.start();
}
