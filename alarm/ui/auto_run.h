// The monitor's start at logon: whether the user has been asked, the Run entry, and the record of
// the answer under "SOFTWARE\\MERVO\\ROVIK".
#pragma once

#include <string>

class QWidget;

namespace rovik::alarm {

inline constexpr const char* kRovikKey = "SOFTWARE\\MERVO\\ROVIK";
inline constexpr const char* kAutoAlarmValue = "AUTOALARM";
inline constexpr const char* kRunValue = "ROVIKALARM";

// True unless "AUTOALARM" under kRovikKey reads as a non-zero number.
bool IsAutoRunChoicePending();

// The Run command line for the program at `programPath`: the quoted path, a blank, -s.
std::string AutoRunCommand(const std::string& programPath);

// Writes the Run entry "ROVIKALARM" for this program. False when it could not be written.
bool RegisterAutoRun();

// Sets "AUTOALARM" = 1 (creating the key). False when it could not be written; the choice then
// stays pending and the prompt comes back at the next start.
bool RecordAutoRunChoice();

// The start-up step: when the choice is pending, asks with CDlgAutoRun (modal), writes the Run
// entry when the user agrees and records the answer either way. Returns true when it asked.
bool OfferAutoRun(QWidget* parent = nullptr);

}  // namespace rovik::alarm
