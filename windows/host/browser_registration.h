#pragma once

namespace tarvona::host {

// The browsers find a native-messaging host on Windows through a registry
// key per browser whose default value names the host's manifest:
//   HKCU\Software\Google\Chrome\NativeMessagingHosts\com.tarvona.host
//   HKCU\Software\Microsoft\Edge\NativeMessagingHosts\com.tarvona.host
//   HKCU\Software\Mozilla\NativeMessagingHosts\com.tarvona.host
// Registering writes the manifests (Chromium's form for Chrome and Edge,
// Firefox's for Firefox) to %LOCALAPPDATA%\Tarvona, naming this program,
// and the keys; unregistering removes both. False on any failure.
bool RegisterWithBrowsers();
bool UnregisterFromBrowsers();

}  // namespace tarvona::host
