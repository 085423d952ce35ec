#include "Database.h"
#include "SharedConnection.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int DefaultNotifyAfterMs = 2000;
constexpr int DefaultGiveUpAfterMs = 120'000;

struct WaitSettings {
    Database::Waiter waiter;
    std::function<void(bool)> notifier;
    int notifyAfterMs = DefaultNotifyAfterMs;
    int giveUpAfterMs = DefaultGiveUpAfterMs;
};

WaitSettings& waitSettings() {
    static WaitSettings settings;
    return settings;
}

// Units (and transactions opened outside one) under way on this thread, and whether this thread
// is pausing between two attempts of one.
thread_local int t_units = 0;
thread_local bool t_pausing = false;

// Without a waiter: a sleep of about 10 ms, with jitter so that two waiting copies do not poll in
// step.
bool sleepSlice(qint64 /*waitedMs*/) {
    static thread_local QRandomGenerator jitter(quint32(QRandomGenerator::system()->generate()));
    std::this_thread::sleep_for(std::chrono::microseconds(5000 + jitter.bounded(10000)));
    return true;
}

void tell(bool waiting) {
    if (waitSettings().notifier)
        waitSettings().notifier(waiting);
}

} // namespace

namespace UnitDepth {

void enter() {
    ++t_units;
}

void leave() {
    --t_units;
}

} // namespace UnitDepth

namespace Database {

bool insideUnit() {
    return t_units > 0;
}

void runUnit(Work work, const std::function<void()>& unit) {
    if (t_units > 0) {
        unit();
        return;
    }
    if (t_pausing)
        throw AppError(u"Другое действие ждёт, пока освободится база данных: это действие не выполнено"_s);
    SharedConnection::reopenIfClosed();
    const WaitSettings& settings = waitSettings();
    QElapsedTimer waited;
    bool told = false;
    bool readAgain = false;
    const auto endWait = qScopeGuard([&] {
        if (!waited.isValid())
            return;
        if (told)
            tell(false);
        if (settings.waiter.finished)
            settings.waiter.finished();
    });
    for (;;) {
        QString busy;
        try {
            UnitDepth::enter();
            const auto left = qScopeGuard([] { UnitDepth::leave(); });
            unit();
            return;
        } catch (const BusyError& e) {
            busy = e.text();
        } catch (const ConnectionLostError& e) {
            if (!SharedConnection::isServer())
                throw;
            if (work == Work::Write) {
                QString reconnected;
                try {
                    SharedConnection::reopen();
                } catch (const AppError& again) {
                    reconnected = u"; "_s + again.text();
                }
                throw SaveUncertain(
                    u"Связь с сервером базы данных прервалась, прежде чем сервер подтвердил "
                    u"запись: изменения могли не сохраниться (%1)%2"_s.arg(e.text(), reconnected));
            }
            if (readAgain)
                throw;
            readAgain = true;
            SharedConnection::reopen();
            continue;
        }
        // Rolled back: wait a slice and run the unit again from its start.
        if (!waited.isValid())
            waited.start();
        const qint64 ms = waited.elapsed();
        if (ms >= settings.giveUpAfterMs)
            throw AppError(busy);
        if (!told && ms >= settings.notifyAfterMs) {
            told = true;
            tell(true);
        }
        t_pausing = true;
        const auto resumed = qScopeGuard([] { t_pausing = false; });
        const bool goOn = settings.waiter.pause ? settings.waiter.pause(ms) : sleepSlice(ms);
        if (!goOn)
            throw WaitAbandoned(work == Work::Write ? u"Ожидание отменено: изменения не сохранены"_s
                                                    : u"Ожидание отменено: данные не прочитаны"_s);
    }
}

void setWaiter(Waiter waiter) {
    waitSettings().waiter = std::move(waiter);
}

void setWaitNotifier(std::function<void(bool waiting)> notifier) {
    waitSettings().notifier = std::move(notifier);
}

void setWaitLimits(int notifyAfterMs, int giveUpAfterMs) {
    WaitSettings& settings = waitSettings();
    settings.notifyAfterMs = notifyAfterMs < 0 ? DefaultNotifyAfterMs : notifyAfterMs;
    settings.giveUpAfterMs = giveUpAfterMs < 0 ? DefaultGiveUpAfterMs : giveUpAfterMs;
}

} // namespace Database
