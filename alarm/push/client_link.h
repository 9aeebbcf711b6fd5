// The boundary towards the video client RovikClient: its window is found by the title
// "RovikClient" and receives command texts and alarm blocks as copy-data messages; its program is
// started from the program folder with no arguments.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "alarm/record/alarm_record.h"

namespace rovik::alarm {

inline constexpr char kClientWindowTitle[] = "RovikClient";
inline constexpr char kClientProgramName[] = "RovikClient";

// Size of the alarm block: "4~", the 1240-byte record, one zero byte.
inline constexpr std::size_t kAlarmBlockSize = 2 + sizeof(AlarmRecord) + 1;
using AlarmBlock = std::array<unsigned char, kAlarmBlockSize>;

// True when the client's window exists (FindWindowW).
bool FindClientWindow();

// Sends a command text ("1~0", "10~3", "6~2", ...) to the client's window: dwData 0, cbData the
// text's length. False when no client window exists (nothing sent); true when one was found,
// whatever it answered.
bool SendTextToClient(std::string_view text);

// The alarm block of a record: "4~" + the record's 1240 bytes + a zero byte.
AlarmBlock MakeAlarmBlock(const AlarmRecord& record);

// Sends the alarm block of `record` to the client's window; false when there is none.
bool SendAlarmToClient(const AlarmRecord& record);

// Starts <program folder>/RovikClient with no arguments; a failure is only reported.
bool StartClient();

}  // namespace rovik::alarm
