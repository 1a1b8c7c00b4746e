#pragma once
#include "shell/style/Typography.h"

#include <QLabel>

// A label whose colour is one of the palette's roles, kept in step with appearance changes.
class StyledLabel : public QLabel {
    Q_OBJECT
public:
    enum class Tone { ink, muted, accent };

    explicit StyledLabel(const QFont& font, Tone tone = Tone::ink, QWidget* parent = nullptr);
    Tone tone() const { return tone_; }

protected:
    bool event(QEvent* event) override;

private:
    Tone tone_;
    bool applying_ = false;
    void applyTone();
};
