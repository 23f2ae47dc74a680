#include "platform/Crypto.h"

#include <openssl/evp.h>

#include <array>
#include <climits>

namespace pelkora {

namespace {

class OpenSslAesCounterModeCipher final : public AesCounterModeCipher {
  public:
    explicit OpenSslAesCounterModeCipher(EVP_CIPHER_CTX* context) : context_(context) {}
    ~OpenSslAesCounterModeCipher() override { EVP_CIPHER_CTX_free(context_); }

    void apply(std::span<std::uint8_t> bytes) override {
        for (auto& byte : bytes) {
            if (used_ == keyStream_.size()) nextKeyStreamBlock();
            byte ^= keyStream_[used_++];
        }
    }

  private:
    // OpenSSL's CTR mode counts big-endian over the whole block, so the counter is kept here
    // and each block is encrypted on its own in ECB mode.
    void nextKeyStreamBlock() {
        for (std::size_t index = 0; index < 4 && ++counter_[index] == 0; ++index) {
        }
        int written = 0;
        EVP_EncryptUpdate(context_, keyStream_.data(), &written, counter_.data(),
                          static_cast<int>(counter_.size()));
        used_ = 0;
    }

    EVP_CIPHER_CTX* context_;
    std::array<std::uint8_t, 16> counter_{};
    std::array<std::uint8_t, 16> keyStream_{};
    std::size_t used_ = keyStream_.size();
};

}  // namespace

std::vector<std::uint8_t> deriveKeyWithPbkdf2Sha1(std::span<const std::uint8_t> password,
                                                  std::span<const std::uint8_t> salt,
                                                  unsigned iterations, std::size_t length) {
    std::vector<std::uint8_t> key(length);
    // OpenSSL takes int lengths; zip passwords, salts and keys are far shorter.
    if (password.size() > INT_MAX || salt.size() > INT_MAX || length > INT_MAX ||
        iterations > INT_MAX) {
        return {};
    }
    const char* passwordBytes = reinterpret_cast<const char*>(password.data());
    static const char empty = 0;
    if (PKCS5_PBKDF2_HMAC_SHA1(password.empty() ? &empty : passwordBytes,
                               static_cast<int>(password.size()), salt.data(),
                               static_cast<int>(salt.size()), static_cast<int>(iterations),
                               static_cast<int>(length), key.data()) != 1) {
        return {};
    }
    return key;
}

std::unique_ptr<AesCounterModeCipher> AesCounterModeCipher::make(
    std::span<const std::uint8_t> key) {
    const EVP_CIPHER* cipher = nullptr;
    switch (key.size()) {
        case 16:
            cipher = EVP_aes_128_ecb();
            break;
        case 24:
            cipher = EVP_aes_192_ecb();
            break;
        case 32:
            cipher = EVP_aes_256_ecb();
            break;
        default:
            return nullptr;
    }
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (context == nullptr) return nullptr;
    if (EVP_EncryptInit_ex(context, cipher, nullptr, key.data(), nullptr) != 1) {
        EVP_CIPHER_CTX_free(context);
        return nullptr;
    }
    EVP_CIPHER_CTX_set_padding(context, 0);
    return std::make_unique<OpenSslAesCounterModeCipher>(context);
}

std::string md5HexDigest(std::string_view bytes) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_md5(), nullptr))
        return {};
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(kHex[digest[i] >> 4]);
        text.push_back(kHex[digest[i] & 0x0F]);
    }
    return text;
}

}  // namespace pelkora
