#pragma once

#include <QList>

namespace TwainSane {

// Backends that read the device in a thread of their own (SANE's test backend among them) end
// that thread with an asynchronous cancel when a frame's last bytes are read or the frame is
// cancelled. A cancel that lands while the thread allocates or frees memory leaves the allocator
// locked, and the backend's join then waits for ever. A reader therefore holds a frame's last
// byte back until the threads that sane_start began have ended, and cancels a frame only while
// those threads wait on a descriptor or a clock. before() also makes sure that the C library's
// unwinder is loaded before the first backend thread can be cancelled.
class BackendThreads {
public:
    void before(); // just before sane_start
    void after();  // just after it: the new threads named like the calling one
    // Waits until those threads have ended, at most timeoutMs; false if one is still running.
    bool waitUntilEnded(int timeoutMs) const;
    // Waits until each of those threads has ended or sleeps in a call that a cancel may interrupt
    // (reading, writing, polling, sleeping); false after timeoutMs.
    bool waitUntilInterruptible(int timeoutMs) const;

private:
    QList<int> m_before;
    QList<int> m_started;
};

} // namespace TwainSane
