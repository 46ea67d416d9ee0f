#pragma once

// Initialises GMime once for the whole program, before its first use.
void ensureGMimeInitialised();
