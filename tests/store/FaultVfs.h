#pragma once

#include <QtGlobal>

// A file layer for SQLite, put in front of the system's one, with which store tests imitate disks:
// a disk that is full, a folder in which no journal can be created, or a disk whose syncs cost
// nothing (for drills about locking, not durability). Installed as the default, so the program's
// own connections (through Qt's driver) go through it too.
namespace FaultVfs {

struct Faults {
    bool skipSync = false;
    // With skipSync: how long a skipped sync pauses instead, as a disk's sync would.
    int syncPauseMicroseconds = 0;
    // Bytes by which files may still grow, all files together; writes within a file's present
    // size cost nothing, as on a real disk. Below 0: no limit.
    qint64 growthBudget = -1;
    // When not 0, opening a new journal fails with this SQLite result code.
    int refuseJournal = 0;
};

// Registers the layer as the default file layer (once) and returns its settings, which take
// effect at once for every connection opened through it.
Faults& install();
// Back to no faults.
void reset();

} // namespace FaultVfs
