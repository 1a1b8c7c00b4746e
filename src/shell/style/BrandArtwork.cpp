#include "shell/style/BrandArtwork.h"

#include "shell/LocalizedText.h"
#include "shell/style/SymbolIcon.h"

#include <QImageReader>
#include <QPainter>

namespace {

struct Artwork {
    QIcon icon;
    QString source;
};

QIcon paintedTile()
{
    QPixmap pm(128, 128);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x2f, 0x8f, 0xd8));
    p.drawRoundedRect(QRectF(8, 8, 112, 112), 26, 26);
    p.end();
    return QIcon(pm);
}

const Artwork& artwork()
{
    static const Artwork art = [] {
        ensureShellResources();
        const QString resource = QStringLiteral(":/brand/Tessyn.svg");
        QImageReader reader(resource);
        reader.setScaledSize(QSize(64, 64));
        if (!reader.read().isNull()) {
            QIcon icon;
            for (int side : {16, 24, 32, 48, 64, 128, 256}) {
                QImageReader sized(resource);
                sized.setScaledSize(QSize(side, side));
                icon.addPixmap(QPixmap::fromImage(sized.read()));
            }
            return Artwork{icon, QStringLiteral("artwork")};
        }
        QIcon symbol = SymbolIcon::icon(QStringLiteral("square.stack.3d.up.fill"));
        if (!symbol.isNull() && !symbol.pixmap(32, 32).isNull()) return Artwork{symbol, QStringLiteral("symbol")};
        return Artwork{paintedTile(), QStringLiteral("painted")};
    }();
    return art;
}

} // namespace

namespace BrandArtwork {
QIcon image() { return artwork().icon; }
QString source() { return artwork().source; }
}
