#pragma once
#include <QWidget>

class QLabel;

// The framed section of every page: a header of the symbol and the translated title over the
// content, padded by 22, on the surface colour in a rounded rectangle (radius 16) outlined
// with the line colour. It takes all the width it is offered and keeps its content left.
class SectionCard : public QWidget {
    Q_OBJECT
public:
    SectionCard(const QString& title, const QString& icon, QWidget* content, QWidget* parent = nullptr);

    QString title() const { return title_; }   // untranslated
    QWidget* content() const { return content_; }
    QLabel* titleLabel() const { return titleLabel_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QString title_;
    QString icon_;
    QWidget* content_ = nullptr;
    QLabel* iconLabel_ = nullptr;
    QLabel* titleLabel_ = nullptr;

    void retranslate();
    void refreshIcon();
};

// Builds a section card; `title` is the Chinese text, `icon` a symbol name. The card takes
// ownership of `content`, which may be null.
SectionCard* card(const QString& title, const QString& icon, QWidget* content = nullptr);
