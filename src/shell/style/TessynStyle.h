#pragma once
#include <QProxyStyle>

class QAbstractButton;

// How much a push button stands out: the platform default, an accent-filled main action, or
// a red title for actions that move things away.
enum class ButtonEmphasis { standard, primary, destructive };

// The application style: Fusion, with the emphasis of a button taken from the button at paint
// time, so the accent and red follow the live palette.
class TessynStyle : public QProxyStyle {
    Q_OBJECT
public:
    TessynStyle();
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    // Check boxes drawn from the accent and outline colours, legible on light and dark.
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    // A tool button that opens its menu on a press draws the menu arrow after its label,
    // centred, instead of in its lower corner.
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
    // Push buttons get a little more room around their titles than Fusion gives, and such tool
    // buttons room for their arrow.
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget = nullptr) const override;
};

void setButtonEmphasis(QAbstractButton* button, ButtonEmphasis emphasis);
ButtonEmphasis buttonEmphasis(const QWidget* widget);

// The one main action of a card: accent fill, light medium-weight title.
struct PrimaryActionStyle {
    static void apply(QAbstractButton* button) { setButtonEmphasis(button, ButtonEmphasis::primary); }
};

// Secondary actions: the neutral bordered button.
struct SecondaryActionStyle {
    static void apply(QAbstractButton* button) { setButtonEmphasis(button, ButtonEmphasis::standard); }
};
