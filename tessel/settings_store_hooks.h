// Settings hooks over the support library's configuration store: the bridge
// that lets the Qt-free settings accessors read and write CD's store.
#pragma once

namespace tsl {

// Installs get/set/flush hooks bound to CD's store (context unused). Called
// once after InitTessel, before other threads read settings; without CD every
// read yields its default and every write fails.
void InstallSettingsStoreHooks();
// Removes them again, before UninitTessel.
void RemoveSettingsStoreHooks();

}  // namespace tsl
