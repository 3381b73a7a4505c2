// Settings hooks over the support library's configuration store.
#pragma once

// Installs get/set/flush hooks bound to CD's store; context 0.
void InstallSettingsStoreHooks();
