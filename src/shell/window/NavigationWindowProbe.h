#pragma once
#include <QPointer>
#include <QWidget>
#include <functional>
#include <vector>

// An invisible widget that tells its owner which top-level window it now lives in. It reports
// once per move into or out of a window (nullptr when it has left every window), one turn of
// the event loop later, so the report never runs inside the change that moved it.
class NavigationWindowProbe : public QWidget {
    Q_OBJECT
public:
    using Attached = std::function<void(QWidget* window)>;

    explicit NavigationWindowProbe(QWidget* parent = nullptr);
    void setAttached(Attached attached) { attached_ = std::move(attached); }
    // The window last reported (or about to be).
    QWidget* hostWindow() const { return host_; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Attached attached_;
    QPointer<QWidget> host_;
    std::vector<QPointer<QWidget>> watched_;
    bool hasReported_ = false;

    void rewatch();
};
