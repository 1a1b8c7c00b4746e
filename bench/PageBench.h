#pragma once
// Helpers of the subcommands that time a page offscreen.
#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <memory>

namespace PageBench {

// An offscreen Qt application whose home, data and settings folders lie under `home`.
inline std::unique_ptr<QApplication> offscreenApplication(const QString& home)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("HOME", home.toLocal8Bit().constData(), 1);
    setenv("XDG_DATA_HOME", (home + "/data").toLocal8Bit().constData(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").toLocal8Bit().constData(), 1);
    static int argc = 1;
    static char name[] = "tessyn-bench";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QApplication>(argc, argv);
}

// How long the main thread went without turning its event loop while `act` ran and the model
// finished what it started: a 1 ms timer notes every turn, and the longest gap is the stall.
class StallProbe {
public:
    StallProbe()
    {
        ticker_.setTimerType(Qt::PreciseTimer);
        ticker_.setInterval(1);
        QObject::connect(&ticker_, &QTimer::timeout, [this] { tick(); });
    }
    template <class Act, class Done>
    double measure(Act act, Done done)
    {
        worst_ = 0;
        worstBusy_ = 0;
        clock_.start();
        last_ = 0;
        lastCpu_ = threadCpuMs();
        ticker_.start();
        QTimer::singleShot(0, act);
        QElapsedTimer limit;
        limit.start();
        // Give the action a turn to start before waiting for it to end.
        QCoreApplication::processEvents();
        while (!done() && limit.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
        tick();
        ticker_.stop();
        return worst_;
    }

    // Of the longest gap: how much of it the main thread spent computing (the rest it waited
    // for a processor, which says more about the machine's load than about the page).
    double busy() const { return worstBusy_; }

private:
    QTimer ticker_;
    QElapsedTimer clock_;
    double last_ = 0;
    double lastCpu_ = 0;
    double worst_ = 0;
    double worstBusy_ = 0;
    static double threadCpuMs()
    {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }
    void tick()
    {
        double now = double(clock_.nsecsElapsed()) / 1e6;
        double cpu = threadCpuMs();
        if (now - last_ > worst_) {
            worst_ = now - last_;
            worstBusy_ = cpu - lastCpu_;
        }
        last_ = now;
        lastCpu_ = cpu;
    }
};

} // namespace PageBench
