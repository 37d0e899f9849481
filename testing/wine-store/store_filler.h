#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Fills the current user's "MY" store with the test PKI as a user's store
// holds it: each certificate, and its private key in a key container of its
// own that the certificate's key properties name.
namespace tarvona::testing {

struct StoreEntry {
  std::string name;      // NAME.cert.der (and NAME.key.msblob) in the data folder
  bool with_key = true;  // false: the certificate alone
};

// What the store road's tests expect: every test key pair, and serial2a's
// certificate without its key.
std::vector<StoreEntry> StandardStoreEntries();

// The test PKI beside the program: ../testdata from its own folder.
std::filesystem::path DefaultDataFolder();

// Empties the store and removes the containers of the user's keys (in
// Wine's registry: deleting from "MY" does not last). True when both are
// gone or were never there.
bool ResetStore();

// Adds the entries; an empty string on success, otherwise what failed.
std::string FillStore(const std::filesystem::path& data, const std::vector<StoreEntry>& entries);

// The container that holds NAME's key.
std::string ContainerName(const std::string& name);

}  // namespace tarvona::testing
