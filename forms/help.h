#pragma once
#include <QString>

class Roster;

// The short help that F1 shows: where every command is, with its keys, read
// from the menus themselves so the two never disagree.
[[nodiscard]] QString helpText(const Roster& r);
