#pragma once
#include <QPushButton>
#include <QStringList>
#include <QWidget>
#include <vector>

class QButtonGroup;

// A row of exclusive segments drawn as one rounded track with the chosen segment filled in
// the accent colour. Each segment is a real checkable button, so keyboard focus and the
// accessibility tree see them; the arrow keys move between them as between radio buttons.
class SegmentedControl : public QWidget {
    Q_OBJECT
public:
    explicit SegmentedControl(const QStringList& labels, QWidget* parent = nullptr);

    int selectedIndex() const;
    // Shows a segment as chosen without announcing it; -1 clears the choice.
    void setSelectedIndex(int index);
    QPushButton* segment(int index) const;
    int count() const { return static_cast<int>(segments_.size()); }

signals:
    // The user chose a segment.
    void segmentChosen(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QButtonGroup* group_ = nullptr;
    std::vector<QPushButton*> segments_;
};
