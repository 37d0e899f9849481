#pragma once

#include <optional>
#include <string>

// The process's one NSS context on the user's certificate and key database,
// the store and providers of the certificate store road on Linux. Opening
// it costs more than a whole signature, so it is opened on first use and
// kept; every certificate, key and list is released within the call that
// obtained it, so the context can always be shut down. Thread-safe.
namespace tarvona::capi::nss {

enum class DatabaseUse {
  kExisting,  // fail when the database folder does not exist
  kCreate,    // make the folder first; NSS makes the database files in it
};

// True when the context is open, opening it now if needed.
bool OpenContext(DatabaseUse use);

// Ends the context; true when none is open afterwards. False when NSS found
// a certificate, key or list still referenced: NSS is then left half shut
// down and this process does not open it again. Runs by itself when the
// process ends or the module unloads.
bool Shutdown();

// Whether the database has a primary password, told without unlocking
// it; nullopt when it cannot be opened (it is never created here).
std::optional<bool> HasPassword();

// The database folder: $HOME/.pki/nssdb (Chromium's on Linux) unless set.
// Setting it takes effect at the next opening; empty restores the default.
void SetDatabaseDirectory(std::string directory);
std::string DatabaseDirectory();

}  // namespace tarvona::capi::nss
