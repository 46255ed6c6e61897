// Where the POSIX layer finds a port given by a plain name.
#pragma once

#include <string>

namespace serial {

// The per-user folder in which simulated ports are published as symbolic links NAME ->
// /dev/pts/N: $LOADER_PORTS_DIR if set, else $XDG_RUNTIME_DIR/loader-ports if
// XDG_RUNTIME_DIR is set, else /tmp/loader-ports-<uid>.
std::string PublishedPortsDir();

// The device path for a port name: a name containing "/" is a path used as given; a plain
// NAME is /dev/NAME when that exists, else PublishedPortsDir()/NAME (when that does not
// exist either, /dev/NAME, so that the open fails with "not found").
std::string ResolveDevicePath(const std::string& name);

}  // namespace serial
