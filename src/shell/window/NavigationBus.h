#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

// The in-process notification "tessyn.navigate": a page change addressed to one window.
// Delivered synchronously to every listener; each main view acts only on its own window.
class NavigationBus : public QObject {
    Q_OBJECT
public:
    static constexpr const char* notificationName = "tessyn.navigate";

    static NavigationBus& shared();
    // `window` may be null (no target); `page` is the untranslated page identifier.
    void post(QWidget* window, const QString& page);

signals:
    void navigate(QWidget* window, const QString& page);

private:
    NavigationBus() = default;
};
