#pragma once

class RuleDatabase;

// Before the start-up compaction: when trelvik.mdb is damaged, says so and
// offers the backup. True when start-up may go on (nothing was damaged, or
// the backup now takes the damaged file's place); false when the program
// must end (the user said No, or there is no usable backup: then both files
// stay as they are).
bool offerDatabaseRecovery(RuleDatabase &db);
