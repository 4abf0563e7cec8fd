// Device root and device paths.
//
// Every process works on one device directory (VYRA_DEVICE, or --device DIR which wins).
// Device paths are the handset's backslash paths ("\Program Files\vyra\x.crt"); they map
// below <root>/fs/. Runtime objects (sockets, locks, the event segment, logs) live in
// <root>/run/.
#pragma once

#include <string>
#include <string_view>

namespace plat {

// Sets the device directory for this process (what --device gives). It is also put into
// VYRA_DEVICE, so the shared libraries (each with its own copy of this layer) and child
// processes agree on the device. Call it before other threads start. An empty text
// falls back to VYRA_DEVICE again.
void set_device_root(std::string_view dir);

// The device directory, without a trailing slash; empty when neither --device nor
// VYRA_DEVICE names one.
std::string device_root();

// Host path of a device path, "" when there is no device or the path tries to leave the
// device file system ("..", NUL). Both '\' and '/' separate components.
std::string host_path(std::string_view device_path);
std::string host_path(std::u16string_view device_path);

// <root>/run/<name>, creating <root>/run when needed; "" when there is no device.
std::string run_path(std::string_view name);

// <root>/<name> (registry.db, modem.db); "" when there is no device.
std::string device_file(std::string_view name);

// Creates every missing directory above host_file. Returns false on failure.
bool make_parent_dirs(const std::string& host_file);

// The client's program folder, device path "\Program Files\vyra\" (its logs, the root
// certificates). Every program that opens a device for work (vyrad, the bridge, the radio
// daemon) makes sure it exists. False without a device or when it cannot be made.
bool ensure_program_folder();

// Reads --device DIR / --device=DIR out of argv (removing it) and applies it. Returns
// false when --device has no value. Other arguments are left in place, in order.
bool take_device_option(int& argc, char** argv);

}  // namespace plat
