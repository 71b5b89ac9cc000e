#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace klangor {

// Outside tools find a preview through a socket named after the playback and the process, in a folder
// only this user can enter: $XDG_RUNTIME_DIR/klangor, or /tmp/klangor-UID without a runtime folder.

// "FilterGraph %08x pid %08x" of the playback's reference value and the process id.
std::string GraphItemName(uintptr_t nReference, pid_t pid);

// Creates the folder with mode 0700 when missing and checks that an existing one is a folder of this
// user with that mode. Returns a playback status.
int PrepareRegistrationFolder(std::string &strFolder);

// Clears the way for a new socket: a socket left there by a process that has ended is removed; a socket
// that still answers, or anything that is not a socket, is left alone and refused. Returns a status.
int ClearSocketPath(const std::string &strPath);

// Removes the socket at the path, if a socket is there.
void RemoveSocket(const std::string &strPath);

class IPlaybackGraph;

// Opens the playback's inspection socket under its item name in the registration folder; strPath
// receives the socket's path on success. Returns a playback status.
int RegisterPlayback(IPlaybackGraph &graph, pid_t pid, std::string &strPath);
// Closes the socket (when the playback is still there) and removes it from the folder.
void UnregisterPlayback(IPlaybackGraph *pGraph, const std::string &strPath);

}  // namespace klangor
