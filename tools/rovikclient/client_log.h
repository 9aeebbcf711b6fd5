// The client's event lines ("alarm id=…", "list 3 of 3", "camera 0 status 在线"): one line per
// event on standard output, and appended to the file ROVIK_CLIENT_LOG names when it is set, for
// whoever follows a client that was started with no output of its own (the launcher gives the
// client /dev/null).
#pragma once

#include <QString>

namespace rovikclient {

// Writes one line; called on the user-interface thread only.
void ClientLog(const QString& line);

}  // namespace rovikclient
