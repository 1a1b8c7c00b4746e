#pragma once
#include <QFont>
#include <QLabel>

// Text sizes of the interface, given as the sizes of a 13-pixel body text and scaled up with
// the desktop's font when that is larger. Nothing is drawn smaller than 11 pixels, so Chinese
// captions stay legible.
namespace Typography {
QFont system(double size, QFont::Weight weight = QFont::Normal);
QFont body();
QFont callout();   // 12
QFont caption();   // 11
QFont caption2();  // 11, for version lines
QFont headline();  // 13 semibold
QFont title3();    // 15
}

// A label whose colour is one of the palette's roles, kept in step with appearance changes.
class StyledLabel : public QLabel {
    Q_OBJECT
public:
    enum class Tone { ink, muted, accent };

    explicit StyledLabel(const QFont& font, Tone tone = Tone::ink, QWidget* parent = nullptr);
    void setTone(Tone tone);
    Tone tone() const { return tone_; }

protected:
    bool event(QEvent* event) override;

private:
    Tone tone_;
    bool applying_ = false;
    void applyTone();
};
