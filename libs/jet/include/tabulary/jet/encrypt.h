// Adding and removing the password of an ACE (.accdb) database: the file is
// copied page by page, every page p >= 1 enciphered with an Office scheme
// (or deciphered), page 0 carrying the encryption information. The copy goes
// to a temporary file beside the output, flushed and renamed into place when
// complete; an output that already exists is refused. The input must not be
// changed meanwhile (no other program writing it).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tabulary/base/error.h"

namespace tab::jet {

enum class EncryptionScheme {
    Agile,         // AES-256, SHA-512, 100,000 spins: the Access 2010+ default
    AgileSha1,     // AES-128, SHA-1, 100,000 spins
    StandardAes,   // ECMA-376 standard encryption, AES-128
    Rc4CryptoApi,  // RC4 CryptoAPI, 128-bit key (Access 2007, "legacy encryption")
};

// "agile", "agile-sha1", "standard", "rc4".
const char* schemeName(EncryptionScheme scheme);
std::optional<EncryptionScheme> schemeByName(std::string_view name);

// Copies the unencrypted ACE file `inputPath` to `outputPath`, protected by
// `password` (UTF-8, 1-255 characters). Refuses Jet3/Jet4 files, files that
// are already encrypted and an output that exists.
Status encryptDatabase(const std::string& inputPath, const std::string& outputPath,
                       std::string_view password,
                       EncryptionScheme scheme = EncryptionScheme::Agile);

// The inverse: copies the Office-encrypted `inputPath` to `outputPath` without
// encryption; WrongPassword if `password` does not open it.
Status decryptDatabase(const std::string& inputPath, const std::string& outputPath,
                       std::string_view password);

}  // namespace tab::jet
