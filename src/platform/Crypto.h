#pragma once

// The cryptography of encrypted zip entries (WinZip AES): key derivation and AES in the
// counter mode WinZip uses; and MD5 for short non-secret tags such as an import's
// transaction number.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelkora {

// length bytes of key material derived from password and salt with PBKDF2-HMAC-SHA1.
std::vector<std::uint8_t> deriveKeyWithPbkdf2Sha1(std::span<const std::uint8_t> password,
                                                  std::span<const std::uint8_t> salt,
                                                  unsigned iterations, std::size_t length);

// AES in counter mode with WinZip's counter: a 16-byte block that starts at zero and whose
// first 32 bits, little-endian, are incremented before each block, so the first block is
// encrypted with counter 1. Encrypting and decrypting are the same operation.
class AesCounterModeCipher {
  public:
    // A cipher for a 16-, 24- or 32-byte key; none for any other key length or when the
    // crypto library cannot set the key up.
    static std::unique_ptr<AesCounterModeCipher> make(std::span<const std::uint8_t> key);
    virtual ~AesCounterModeCipher() = default;

    // XORs bytes in place with the next bytes of the key stream; the stream continues across
    // calls, so bytes may be given in pieces of any size.
    virtual void apply(std::span<std::uint8_t> bytes) = 0;
};

// The MD5 digest of the bytes as 32 lower-case hex digits.
std::string md5HexDigest(std::string_view bytes);

}  // namespace pelkora
