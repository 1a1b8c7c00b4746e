#include "../ShellTestSupport.h"

#include "shell/controls/MiddleElidedLabel.h"
#include "shell/style/Typography.h"

#include <QImage>
#include <QPainter>
#include <QTest>
#include <QVBoxLayout>

namespace {

class MiddleElidedLabelTest : public ShellTest {};

// How many rows hold a pixel far from the background's lightness.
int inkRows(const QImage& image, const QColor& background)
{
    int top = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (std::abs(image.pixelColor(x, y).lightness() - background.lightness()) > 60) {
                if (top < 0) top = y;
                bottom = y;
                break;
            }
    return top < 0 ? 0 : bottom - top + 1;
}

} // namespace

TEST_F(MiddleElidedLabelTest, APathWithChineseIsAsTallAsItsGlyphs)
{
    // Latin descenders on a line whose Chinese pushes the baseline down, at the sizes of the
    // captions, names and headlines that show paths.
    const QString path = QStringLiteral("/home/用户/Displays/季度报告 copy.jpg");
    for (int pixels = 11; pixels <= 16; ++pixels) {
        SCOPED_TRACE(pixels);
        QFont font = Typography::caption();
        font.setPixelSize(pixels);
        QWidget holder;
        auto* column = new QVBoxLayout(&holder);
        auto* label = new MiddleElidedLabel(font);
        column->addWidget(label);
        column->addStretch(1);
        label->setFullText(path);
        holder.resize(600, 120);
        holder.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&holder));

        EXPECT_GE(label->height(), Typography::lineHeight(path, font));
        QImage shown = label->grab().toImage();
        QColor background = shown.pixelColor(shown.width() - 1, 0);
        QImage free(600, 120, QImage::Format_ARGB32);
        free.fill(background);
        {
            QPainter painter(&free);
            painter.setFont(label->font());
            painter.setPen(label->palette().color(QPalette::WindowText));
            painter.drawText(QPointF(10, 60), path);
        }
        EXPECT_EQ(inkRows(shown, background), inkRows(free, background)) << "tops or bottoms cut off";
    }
}
