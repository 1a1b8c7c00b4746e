#include "shell/style/SymbolIcon.h"

#include "shell/LocalizedText.h"
#include "shell/style/Palette.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QPalette>
#include <QPixmap>

namespace {

// Renders the shipped drawing as an alpha mask and colours it with the live palette: its text
// colour, or its accent colour for symbols that stand in for a picture.
class TintedSymbolEngine : public QIconEngine {
public:
    explicit TintedSymbolEngine(QString resource, bool accent = false)
        : resource_(std::move(resource)), accent_(accent)
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QSize side = rect.size();
        QPixmap pm = scaledPixmap(side, mode, state, ratio);
        painter->drawPixmap(rect, pm);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        QSize device = size * scale;
        if (device.isEmpty()) return QPixmap();
        QImage mask = maskFor(device);
        if (mask.isNull()) return QPixmap();
        QImage tinted = mask;
        QPainter p(&tinted);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(tinted.rect(), accent_ ? accentFor(mode) : colourFor(mode));
        p.end();
        QPixmap pm = QPixmap::fromImage(tinted);
        pm.setDevicePixelRatio(scale);
        return pm;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QString key() const override { return QStringLiteral("TessynSymbol"); }
    QIconEngine* clone() const override { return new TintedSymbolEngine(resource_, accent_); }
    bool isNull() override { return !QFile::exists(resource_); }

private:
    QString resource_;
    bool accent_ = false;
    QHash<quint64, QImage> masks_;

    QImage maskFor(const QSize& device)
    {
        quint64 key = (quint64(device.width()) << 32) | quint64(device.height());
        auto found = masks_.constFind(key);
        if (found != masks_.constEnd()) return *found;
        QImageReader reader(resource_);
        reader.setScaledSize(device);
        QImage image = reader.read();
        if (!image.isNull()) image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        if (masks_.size() > 32) masks_.clear();
        masks_.insert(key, image);
        return image;
    }

    static QColor colourFor(QIcon::Mode mode)
    {
        QPalette palette = QGuiApplication::palette();
        switch (mode) {
        case QIcon::Disabled: return palette.color(QPalette::Disabled, QPalette::WindowText);
        case QIcon::Selected: return palette.color(QPalette::Active, QPalette::HighlightedText);
        default: return palette.color(QPalette::Active, QPalette::WindowText);
        }
    }

    static QColor accentFor(QIcon::Mode mode)
    {
        QColor colour = Palette::accent();
        if (mode == QIcon::Disabled) colour.setAlphaF(0.45);
        return colour;
    }
};

QString resourceFor(const QString& symbol) { return QStringLiteral(":/icons/") + symbol + QStringLiteral(".svg"); }

} // namespace

namespace SymbolIcon {

QString themeName(const QString& symbol)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("folder.fill"), QStringLiteral("folder")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new")},
        {QStringLiteral("app"), QStringLiteral("application-x-executable")},
        {QStringLiteral("app.fill"), QStringLiteral("application-x-executable")},
        {QStringLiteral("internaldrive"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("system-search")},
        {QStringLiteral("doc.text.magnifyingglass"), QStringLiteral("edit-find")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("document-open-recent")},
        {QStringLiteral("gearshape"), QStringLiteral("preferences-system")},
        {QStringLiteral("info.circle"), QStringLiteral("dialog-information")},
        {QStringLiteral("info.circle.fill"), QStringLiteral("dialog-information")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("edit-clear")},
        {QStringLiteral("globe"), QStringLiteral("preferences-desktop-locale")},
    };
    return names.value(symbol);
}

bool isShipped(const QString& symbol)
{
    ensureShellResources();
    return QFile::exists(resourceFor(symbol));
}

// One cache per colouring: every use of a symbol shares one engine and its rendered masks.
static QIcon tintedIcon(const QString& symbol, bool accent)
{
    static QHash<QString, QIcon> icons[2];
    QHash<QString, QIcon>& cache = icons[accent ? 1 : 0];
    auto found = cache.constFind(symbol);
    if (found != cache.constEnd()) return *found;
    QIcon icon = isShipped(symbol) ? QIcon(new TintedSymbolEngine(resourceFor(symbol), accent)) : QIcon();
    cache.insert(symbol, icon);
    return icon;
}

QIcon shipped(const QString& symbol) { return tintedIcon(symbol, false); }

QIcon accented(const QString& symbol) { return tintedIcon(symbol, true); }

QPixmap tinted(const QString& symbol, const QSize& size, const QColor& colour, qreal ratio)
{
    if (!isShipped(symbol)) return QPixmap();
    QImageReader reader(resourceFor(symbol));
    reader.setScaledSize(size * ratio);
    QImage image = reader.read();
    if (image.isNull()) return QPixmap();
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter p(&image);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(image.rect(), colour);
    p.end();
    QPixmap pm = QPixmap::fromImage(image);
    pm.setDevicePixelRatio(ratio);
    return pm;
}

QIcon icon(const QString& symbol)
{
    QString name = themeName(symbol);
    if (!name.isEmpty() && QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    return shipped(symbol);
}

} // namespace SymbolIcon
