#pragma once
#include "engine/ScanReport.h"

#include <QWidget>
#include <vector>

class DisclosureGroup;
class QVBoxLayout;

// The first element of the scan results: a collapsible line summing up the scan (files, their
// size, how long it took) over one bar per category, each scaled to the largest category.
class SpaceSummaryView : public QWidget {
    Q_OBJECT
public:
    explicit SpaceSummaryView(QWidget* parent = nullptr);

    // Redraws from one report's figures (texts in the current language).
    void display(int64_t count, int64_t total, double elapsed, const std::vector<SpaceCategory>& categories);

    DisclosureGroup* group() const { return group_; }
    // Per shown category: its name (untranslated) and its bar's fill, 0 to 1.
    std::vector<std::pair<QString, double>> bars() const;

private:
    DisclosureGroup* group_ = nullptr;
    QVBoxLayout* rows_ = nullptr;
    std::vector<SpaceCategory> categories_;
};
