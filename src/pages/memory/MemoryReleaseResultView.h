#pragma once
#include "services/MemoryReleaseEngine.h"

#include <QStringList>
#include <QWidget>

// The outcome of the last memory release, inside the memory page's release card: who quit,
// who was still running when the wait ended, who did not take the request, and the free
// memory before and after (never a difference, which would claim more than was measured).
class MemoryReleaseResultView : public QWidget {
    Q_OBJECT
public:
    explicit MemoryReleaseResultView(const MemoryReleaseOutcome& outcome, QWidget* parent = nullptr);

    const MemoryReleaseOutcome& outcome() const { return outcome_; }
    // The shown lines, top to bottom, as displayed.
    QStringList lines() const;

private:
    MemoryReleaseOutcome outcome_;
};
