#pragma once
#include <QIcon>
#include <QPixmap>

// The product artwork of the brand header and the window icon: the shipped "Tessyn" drawing,
// else the "square.stack.3d.up.fill" symbol, else a plain painted tile. Built once.
namespace BrandArtwork {
QIcon image();
// Which source the artwork came from: "artwork", "symbol" or "painted".
QString source();
}
