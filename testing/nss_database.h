#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvona::testing {

// A fresh NSS database (no password) in a temporary folder of its own,
// removed with the object, and filled with NSS's own tools as a user fills
// theirs. Every step throws std::runtime_error when its tool fails.
class NssDatabase {
 public:
  NssDatabase();
  ~NssDatabase();
  NssDatabase(const NssDatabase&) = delete;
  NssDatabase& operator=(const NssDatabase&) = delete;

  // Imports `key_name`.p12 of the test data: certificate and private key.
  void ImportKeyPair(const std::string& key_name);
  // Adds a certificate file without its key; `trust` as certutil takes it
  // (",," none, "C,," a trusted authority).
  void AddCertificate(const std::string& path, const std::string& nickname,
                      const std::string& trust = ",,");
  // A self-signed certificate with a new 1024-bit key, made by OpenSSL in
  // the folder (not added); returns the DER file's path. `subject` and
  // `serial` as OpenSSL takes them ("/CN=Other", "0x1001").
  std::string MakeSelfSigned(const std::string& name, const std::string& subject,
                             const std::string& serial) const;
  // A self-signed certificate and its new 1024-bit key, made in the
  // database by certutil, valid for `months` months from `start` months
  // from now: a negative `start` and a short validity give one that has
  // expired, a positive one a certificate not yet valid.
  void MakeKeyPair(const std::string& nickname, const std::string& subject, int start, int months);
  // Protects the database with a primary password, as a user may; import
  // key pairs first.
  void SetPassword(const std::string& password);
  // Writes a file into the folder and returns its path.
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const;

  const std::string& directory() const { return directory_; }

 private:
  std::string directory_;
};

// Runs a program, its standard output discarded; throws unless it exits 0.
void RunTool(const std::vector<std::string>& arguments);

}  // namespace tarvona::testing
