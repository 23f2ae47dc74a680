#pragma once

// The streams an entry's content is read through: the archive's bytes in place, the two
// decrypting stages (the PKWARE traditional cipher and WinZip AES), and the check of the
// content's size and CRC-32 at its end.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>

#include "platform/Crypto.h"
#include "platform/InputStream.h"

namespace pelkora::zip_detail {

// A stream over bytes it does not own; they must outlive it.
class SpanInputStream final : public InputStream {
  public:
    explicit SpanInputStream(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    bool hasBytesAvailable() const override { return !bytes_.empty(); }

  private:
    std::span<const std::uint8_t> bytes_;
};

// The three keys of the PKWARE traditional stream cipher.
class TraditionalKeys {
  public:
    // Keys initialised from the password's bytes.
    explicit TraditionalKeys(std::string_view password);
    // Decrypts one byte and advances the keys with the plain byte.
    std::uint8_t decrypt(std::uint8_t cipherByte);

  private:
    void update(std::uint8_t plainByte);
    std::uint32_t key0_ = 0x12345678;
    std::uint32_t key1_ = 0x23456789;
    std::uint32_t key2_ = 0x34567890;
};

// Decrypts upstream with traditional keys that have already consumed the encryption header.
class TraditionalDecryptingStream final : public InputStream {
  public:
    TraditionalDecryptingStream(std::unique_ptr<InputStream> upstream, TraditionalKeys keys)
        : upstream_(std::move(upstream)), keys_(keys) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    bool hasBytesAvailable() const override { return upstream_->hasBytesAvailable(); }
    std::error_code error() const override { return upstream_->error(); }

  private:
    std::unique_ptr<InputStream> upstream_;
    TraditionalKeys keys_;
};

// Decrypts upstream with WinZip's AES counter mode.
class AesDecryptingStream final : public InputStream {
  public:
    AesDecryptingStream(std::unique_ptr<InputStream> upstream,
                        std::unique_ptr<AesCounterModeCipher> cipher)
        : upstream_(std::move(upstream)), cipher_(std::move(cipher)) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    bool hasBytesAvailable() const override { return upstream_->hasBytesAvailable(); }
    std::error_code error() const override { return upstream_->error(); }

  private:
    std::unique_ptr<InputStream> upstream_;
    std::unique_ptr<AesCounterModeCipher> cipher_;
};

// Passes upstream's bytes on and, when upstream ends without an error, ends with
// illegal_byte_sequence if they were not the expected count or (when one is expected) did
// not have the expected CRC-32: the entry is damaged.
class CrcCheckingStream final : public InputStream {
  public:
    CrcCheckingStream(std::unique_ptr<InputStream> upstream, std::uint64_t expectedSize,
                      std::optional<std::uint32_t> expectedCrc)
        : upstream_(std::move(upstream)), expectedSize_(expectedSize), expectedCrc_(expectedCrc) {}
    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override;
    bool hasBytesAvailable() const override { return !ended_ && upstream_->hasBytesAvailable(); }
    std::error_code error() const override;

  private:
    std::unique_ptr<InputStream> upstream_;
    std::uint64_t expectedSize_;
    std::optional<std::uint32_t> expectedCrc_;
    std::uint64_t size_ = 0;
    std::uint32_t crc_ = 0;
    bool ended_ = false;
    std::error_code error_;
};

}  // namespace pelkora::zip_detail
