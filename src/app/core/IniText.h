#pragma once
// Conversion between the bytes of an INI file and its entries, done by QSettings' own INI reader
// and writer. QSettings reads and writes files only, and keeps a per-process cache of the files
// it has seen that it trusts while their size and time stamp (to the millisecond) look
// unchanged; so each conversion runs on a scratch file of a name never used before in this
// process, which that cache cannot answer. Scratch files live in a memory-backed folder when
// there is one ($XDG_RUNTIME_DIR, /dev/shm), or else (and when that fails) in the system's
// temporary folder, and are removed before the functions return; those left by killed copies
// are removed at the first conversion of a process.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <optional>

namespace app::IniText {

struct Entry
{
    QString key; // "Group/key" for keys outside [General]
    QVariant value;
};
using Entries = QList<Entry>;

// Finds the scratch folders and removes the files that killed copies left in them, which the
// first conversion does otherwise; safe to call from any thread, once or more.
void prepare();

// What QSettings can read from bytes; lines it cannot read are left out. nullopt when no scratch
// file could be made. Never throws.
std::optional<Entries> parse(const QByteArray &bytes);

// The INI text of entries as QSettings writes it. nullopt when no scratch file could be made or
// QSettings could not write it. Never throws.
std::optional<QByteArray> serialize(const Entries &entries);

} // namespace app::IniText
