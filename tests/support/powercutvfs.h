#pragma once
#include <string>

namespace tsltest {

// A power cut at a chosen moment, for a process that writes through SQLite and
// the storage library's file calls. Linked with the --wrap options of
// tests/crash/CMakeLists.txt, it watches SQLite's default file system (writes,
// syncs, truncations, journals made and deleted) and the folder calls of the
// program's own code (rename, link, unlink, mkdir, rmdir, open and openat with
// O_CREAT, fsync). The contents the program writes itself (not through SQLite)
// count as written at once.
//
// Until a file is synced its writes are only in the "page cache": the real file
// gets them at once, and the state it had at its last sync is kept aside. A
// name made, renamed or removed counts only once its folder is synced (the new
// name's folder for a rename; SQLite syncs the folder of a journal it made at
// the journal's first sync, as its unix layer does). At event `cutAt` the power
// goes: each unsynced write is dropped, kept or kept as a random prefix of
// itself (a torn page); of each folder's unsynced changes a random tail is
// undone (a folder made and lost takes what is in it along); and the process
// ends at once with exit code 99. Nothing happens before start().
class PowerCut {
public:
    // `stash` is an empty folder on the same file system as the data, for the
    // files the program removes while their removal may still be undone.
    static void start(const std::string& stash, long cutAt, unsigned seed);
    // The power goes now (the program has ended its work): what is not on disk is
    // lost as at any cut. Nothing happens unless started.
    static void cutNow();
    // Events counted so far (each watched write, sync, truncation, name change).
    [[nodiscard]] static long events();
    static constexpr int kExitCode = 99;
};

} // namespace tsltest
