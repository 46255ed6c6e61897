// Where the POSIX layer finds a port given by a plain name.
#pragma once

#include <string>

namespace serial {

// The per-user folder in which simulated ports are published as symbolic links NAME ->
// /dev/pts/N: $LOADER_PORTS_DIR if set, else $XDG_RUNTIME_DIR/loader-ports if
// XDG_RUNTIME_DIR is set, else /tmp/loader-ports-<uid>.
std::string PublishedPortsDir();

// The layout of the published folder, one definition for the simulator that publishes and
// the readers that list and open what it publishes: NAME is a symbolic link to the
// simulator's terminal, and NAME.lock a file that the simulator holds locked (flock) for
// as long as it runs, so that a link left by a simulator that was killed is told apart.
std::string PublishedLockPath(const std::string& dir, const std::string& name);

// Whether `dir` holds only what this user published: a folder, not a link to one, owned by
// this user, that neither group nor others may write. Another local user could otherwise
// create it first and plant names in it that lead to other devices.
bool IsPrivateFolder(const std::string& dir);

// Whether NAME in the published folder `dir` is a link whose simulator still runs: its
// lock file is held by someone. Whether `dir` itself can be trusted is not checked here.
bool IsPublishedPortLive(const std::string& dir, const std::string& name);

// The device path for a port name: a name containing "/" is a path used as given; a plain
// NAME is /dev/NAME when that exists, else PublishedPortsDir()/NAME while that folder is
// private and its simulator runs (otherwise /dev/NAME, so that the open fails with "not
// found").
std::string ResolveDevicePath(const std::string& name);

}  // namespace serial
