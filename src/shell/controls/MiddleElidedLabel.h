#pragma once
#include "shell/controls/StyledLabel.h"

// One line of text shortened in the middle to the width it gets; the full text is its tooltip.
class MiddleElidedLabel : public StyledLabel {
    Q_OBJECT
public:
    explicit MiddleElidedLabel(const QFont& font, Tone tone = Tone::ink, QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return full_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString full_;
    int lineHeight() const;
    void elide();
};
