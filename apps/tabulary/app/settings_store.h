// The per-user settings store: text values under application "Quillmoor",
// section "Tabulary", kept in the INI file of settingsFilePath(), group
// [Tabulary].
//
// Storing and making durable are two steps, so that a box can store its
// value on every keystroke without waiting for the disk each time:
// - WriteSetting puts the new content in place at once (a private file
//   beside the target, renamed over it). The file on disk always holds the
//   old content or the new, never part of it, and a program that ends or
//   crashes right after keeps the value. It does not sync the disk.
// - SyncSettings makes what was written since the last sync durable: fsync
//   of the file and of its folder. Callers call it when a value settles
//   (the box loses the focus, the user moves on, the program ends); with
//   nothing written since the last sync it does nothing.
// Until the sync, a power loss or system crash may lose what was written
// since the last one (on some file systems the whole content). All of it
// runs on the GUI thread only.
#pragma once

#include <QString>

namespace tab::gui {

// The stored value of `key`, or `defaultValue` when the file, the group or the
// key is missing. Never writes. Throws Failure when the file exists but
// cannot be read.
QString ReadSetting(const QString& key, const QString& defaultValue);

// Replaces the value of `key` (creating file, group and key as needed) in
// the file at once, without syncing it (see SyncSettings). The file is created owner-only (0600)
// before the first value is written and is never written through a symbolic link. Throws Failure
// when it cannot be written.
void WriteSetting(const QString& key, const QString& value);

// Syncs every settings file written since the last sync, and its folder, to
// the disk; a file removed since is skipped. Nothing is pending afterwards,
// even after a failure: a failed fsync is not made good by repeating it.
// Throws Failure when a sync fails; the values stay in the file.
void SyncSettings();

// What SyncSettings has done in this process, for tests and benchmarks: the
// calls that had something to sync, and the fsync calls they made.
struct SettingsSyncCounts {
    long long syncs = 0;
    long long fsyncs = 0;
};
SettingsSyncCounts settingsSyncCounts();

}  // namespace tab::gui
