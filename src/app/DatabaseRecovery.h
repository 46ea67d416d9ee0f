#pragma once

class RuleDatabase;

// Before the start-up compaction: when trelvik.mdb is damaged but its rule
// tables can still be read in full, makes a new database of those rules
// (with the deletion history backup.mdb holds) and says so; otherwise says how many
// rules it could read and offers the backup. True when start-up may go on
// (nothing was damaged, the rules were recovered, or the backup now takes
// the damaged file's place); false when the program must end (the user said
// No, or there is no usable backup: then both files stay as they are).
bool offerDatabaseRecovery(RuleDatabase &db);

// The start-up compaction, on a worker: a large database takes a while, and
// the window's thread goes on answering meanwhile (a later start asking for
// the window). A failure shows the "Error" box; start-up goes on.
bool compactAtStart(RuleDatabase &db);
