#include "shell/app/TessynDelegate.h"

#include "model/AppModel.h"
#include "shell/app/VisibleWindows.h"

#include <QAction>
#include <QMenu>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

TessynDelegate::TessynDelegate(QObject* parent) : QObject(parent) {}

void TessynDelegate::applicationDidFinishLaunching(const QList<QMenu*>& menus)
{
    QList<QPointer<QMenu>> kept;
    for (QMenu* menu : menus) kept.append(menu);
    QTimer::singleShot(reopenDelayMs, this, [kept] {
        QList<QMenu*> alive;
        for (const auto& menu : kept)
            if (menu) alive.append(menu);
        reopenCheck(alive);
    });
}

void TessynDelegate::reopenCheck(const QList<QMenu*>& menus)
{
    if (firstVisibleWindow()) return;
    for (QMenu* menu : menus) {
        for (QAction* action : menu->actions()) {
            if (action->menu() || action->isSeparator()) continue;
            QKeySequence shortcut = action->shortcut();
            if (shortcut.isEmpty()) continue;
            QKeyCombination key = shortcut[0];
            if (key.key() != Qt::Key_N || !(key.keyboardModifiers() & Qt::ControlModifier)) continue;
            if (!action->isEnabled()) continue;
            action->trigger();
            return;
        }
    }
}

bool TessynDelegate::applicationShouldTerminate()
{
    if (!model) return true;
    return model->prepareToQuit();
}

// ---------------------------------------------------------------------------------------------

namespace {

int signalPipe[2] = {-1, -1};
struct sigaction previousTerm;
struct sigaction previousInt;

void forwardSignal(int number)
{
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a pending request; dropping this one loses nothing.
    [[maybe_unused]] ssize_t written = ::write(signalPipe[0], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent)
{
    if (signalPipe[0] >= 0) return;  // one forwarder per process
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        signalPipe[0] = signalPipe[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::drain);

    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, &previousTerm);
    ::sigaction(SIGINT, &action, &previousInt);
}

TerminationSignals::~TerminationSignals()
{
    if (!notifier_) return;
    ::sigaction(SIGTERM, &previousTerm, nullptr);
    ::sigaction(SIGINT, &previousInt, nullptr);
    notifier_->setEnabled(false);
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
}

void TerminationSignals::drain()
{
    unsigned char bytes[16];
    ssize_t count;
    int last = 0;
    while ((count = ::read(signalPipe[1], bytes, sizeof bytes)) > 0) last = bytes[count - 1];
    // Several signals waiting make one request.
    if (last) emit received(last);
}
