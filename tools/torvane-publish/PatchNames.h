#pragma once
// The launcher's stale-data rule: after an FTP patch, when one of its marker files lies in the
// game directory itself, loose game data there is deleted.

#include <string>

// True when `rootName` (a file in the game directory itself) makes the rule run.
bool IsStaleDataTrigger(const std::string& rootName);

// True when the rule deletes a loose file of this name from the game directory.
bool IsStaleDataVictim(const std::string& rootName);
