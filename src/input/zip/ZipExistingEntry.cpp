#include "input/zip/ZipExistingEntry.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "input/zip/ZipArchive.h"
#include "input/zip/ZipRecords_p.h"
#include "input/zip/ZipStreams_p.h"
#include "platform/Crypto.h"
#include "platform/Inflate.h"
#include "support/Format.h"
#include "support/Localization.h"

namespace pelkora {

using namespace zip_detail;

namespace {

constexpr std::uint16_t storedMethod = 0;
constexpr std::uint16_t deflateMethod = 8;
constexpr std::size_t traditionalHeaderLength = 12;
constexpr std::size_t aesVerifierLength = 2;
constexpr std::size_t aesAuthenticationCodeLength = 10;
constexpr unsigned aesKeyDerivationIterations = 1000;

// Host systems in the central header's attribute compatibility byte.
constexpr std::uint8_t msDosHost = 0;
constexpr std::uint8_t unixHost = 3;
constexpr std::uint8_t ntfsHost = 10;

// MS-DOS attribute bits in the low byte of the external attributes.
constexpr std::uint32_t dosReadOnly = 0x01;
constexpr std::uint32_t dosVolumeLabel = 0x08;
constexpr std::uint32_t dosDirectory = 0x10;

ZipEncryptionMode encryptionModeOf(std::uint16_t flags, std::span<const std::uint8_t> extraField) {
    if (!(flags & encryptedFlag)) return ZipEncryptionMode::none;
    if (findExtraBlock(extraField, winZipAesExtraId)) return ZipEncryptionMode::aes;
    if (flags & strongEncryptionFlag) return ZipEncryptionMode::strong;
    return ZipEncryptionMode::traditional;
}

// The method in an AES extra block, or the header's own when the block is too short to say.
std::uint16_t aesAwareMethod(std::uint16_t headerMethod, ZipEncryptionMode mode,
                             std::span<const std::uint8_t> extraField) {
    if (mode != ZipEncryptionMode::aes) return headerMethod;
    const auto block = findExtraBlock(extraField, winZipAesExtraId);
    // The method sits at offset 5 of the block's data (offset 9 of the block).
    if (!block || block->size() < aesExtraDataLength) return headerMethod;
    return readUInt16(block->data() + 5);
}

// A declared size a read may allocate: within the absolute bound and within what the
// compressed bytes could expand to, so a forged header cannot ask for gigabytes.
bool isPlausibleUncompressedSize(std::uint64_t uncompressedSize, std::uint64_t compressedSize) {
    // Past maximumZipEntrySize compressed bytes the expansion bound cannot be what refuses.
    return uncompressedSize <= maximumZipEntrySize &&
           (compressedSize >= maximumZipEntrySize ||
            uncompressedSize <= compressedSize * maximumDeflateExpansion);
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

ZipExistingEntry::ZipExistingEntry(const ZipArchive& archive, const std::uint8_t* centralFileHeader,
                                   const std::uint8_t* localFileHeader,
                                   const ZipEntryExtent& extent)
    : archive_(archive),
      centralFileHeader_(centralFileHeader),
      localFileHeader_(localFileHeader),
      extent_(extent),
      encryptionMode_(encryptionModeOf(ZipCentralFileHeader{centralFileHeader}.flags(),
                                       ZipCentralFileHeader{centralFileHeader}.extraField())) {}

std::uint16_t ZipExistingEntry::compressionMethod() const {
    const ZipCentralFileHeader header{centralFileHeader_};
    return aesAwareMethod(header.compressionMethod(), encryptionMode_, header.extraField());
}

bool ZipExistingEntry::encrypted() const {
    return ZipCentralFileHeader{centralFileHeader_}.flags() & encryptedFlag;
}

std::chrono::system_clock::time_point ZipExistingEntry::lastModified() const {
    const ZipCentralFileHeader header{centralFileHeader_};
    const unsigned time = header.lastModTime();
    const unsigned date = header.lastModDate();
    std::tm parts{};
    parts.tm_sec = static_cast<int>((time & 0x1f) * 2);
    parts.tm_min = static_cast<int>((time >> 5) & 0x3f);
    parts.tm_hour = static_cast<int>(time >> 11);
    parts.tm_mday = static_cast<int>(date & 0x1f);
    parts.tm_mon = static_cast<int>((date >> 5) & 0x0f) - 1;
    parts.tm_year = static_cast<int>(date >> 9) + 80;
    // The time zone's rules decide whether daylight saving time applies.
    parts.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&parts));
}

std::uint32_t ZipExistingEntry::crc32() const {
    return ZipCentralFileHeader{centralFileHeader_}.crc32();
}

std::uint32_t ZipExistingEntry::fileMode() const {
    const ZipCentralFileHeader header{centralFileHeader_};
    const std::uint32_t attributes = header.externalFileAttributes();
    switch (header.fileAttributeCompatibility()) {
        case msDosHost:
        case ntfsHost: {
            if (attributes & (dosDirectory | dosVolumeLabel)) {
                const std::uint32_t mode = S_IFDIR | 0755;
                return (attributes & dosReadOnly) ? mode & ~std::uint32_t{S_IWUSR} : mode;
            }
            const std::uint32_t mode = S_IFREG | 0644;
            return (attributes & dosReadOnly) ? mode & ~std::uint32_t{S_IWUSR} : mode;
        }
        case unixHost:
            return attributes >> 16;
        default:
            return 0;
    }
}

std::string ZipExistingEntry::fileName() const {
    const ZipCentralFileHeader header{centralFileHeader_};
    const auto bytes = header.fileName();
    const TextEncoding encoding =
        (header.flags() & utf8NameFlag) ? TextEncoding::utf8() : archive_.encoding();
    if (auto name = decodeStrictly(bytes, encoding)) return std::move(*name);
    // A name that is not valid in its encoding is most likely in the zip format's original
    // code page 437, which gives every byte a character, so the name still matches something.
    if (const auto legacy = TextEncoding::named("IBM437")) {
        if (auto name = decodeStrictly(bytes, *legacy)) return std::move(*name);
    }
    return std::string(bytes.begin(), bytes.end());
}

ZipError ZipExistingEntry::error(ZipErrorKind kind, std::string_view problem,
                                 std::error_code underlying) const {
    return ZipError{
        {kind,
         formatMessage(localizedString("Could not read “%1$@” in the zip archive %2$@: %3$@."),
                       fileName(), archive_.displayName(), problem)},
        std::nullopt,
        underlying};
}

Expected<void, ZipError> ZipExistingEntry::checkReadable() const {
    if (encryptionMode_ == ZipEncryptionMode::strong) {
        return Unexpected(
            error(ZipErrorKind::unsupportedEncryption,
                  localizedString("it uses PKWARE strong encryption, which cannot be decrypted")));
    }
    const std::uint16_t method = compressionMethod();
    if (method != storedMethod && method != deflateMethod) {
        return Unexpected(error(ZipErrorKind::unsupportedCompressionMethod,
                                formatMessage(localizedString("it is compressed with method %@; "
                                                              "only stored and deflate entries "
                                                              "can be read"),
                                              std::to_string(method))));
    }
    return {};
}

bool ZipExistingEntry::hasMeaningfulCrc() const {
    if (encryptionMode_ != ZipEncryptionMode::aes) return true;
    // The vendor version leads the AES block's data: AE-1 keeps the CRC, AE-2 stores 0.
    const auto block =
        findExtraBlock(ZipCentralFileHeader{centralFileHeader_}.extraField(), winZipAesExtraId);
    return !block || block->size() < 2 || readUInt16(block->data()) != 2;
}

Expected<void, ZipError> ZipExistingEntry::verifyContent(
    std::span<const std::uint8_t> content) const {
    if (content.size() != uncompressedSize()) {
        return Unexpected(
            error(ZipErrorKind::contentUnreadable,
                  localizedString("its content is not the size its header declares; the archive "
                                  "is damaged")));
    }
    if (hasMeaningfulCrc() && updateCrc32(0, content) != crc32()) {
        return Unexpected(error(
            ZipErrorKind::contentUnreadable,
            localizedString("its content does not match its CRC-32; the archive is damaged")));
    }
    return {};
}

Expected<ZipExistingEntry::DataLocation, ZipError> ZipExistingEntry::locateData() const {
    const std::span<const std::uint8_t> bytes = *archive_.contents();
    const ZipLocalFileHeader local{localFileHeader_};
    const auto localOffset = static_cast<std::uint64_t>(localFileHeader_ - bytes.data());
    // The data follows the LOCAL name and extra field, whose lengths may differ from the
    // central ones; all of it, at the central compressed size, must lie inside the archive.
    const std::uint64_t dataOffset =
        localOffset + localFileHeaderLength + local.fileNameLength() + local.extraFieldLength();
    const std::uint64_t dataLength = compressedSize();
    if (dataOffset > bytes.size() || dataLength > bytes.size() - dataOffset) {
        return Unexpected(error(ZipErrorKind::localFileHeaderInvalid,
                                localizedString("its data runs past the end of the archive")));
    }
    // A local header that is not one, or names another entry, is not this entry's data.
    const auto localName =
        bytes.subspan(localOffset + localFileHeaderLength, local.fileNameLength());
    const auto centralName = ZipCentralFileHeader{centralFileHeader_}.fileName();
    if (local.signature() != localFileHeaderSignature ||
        !std::equal(localName.begin(), localName.end(), centralName.begin(), centralName.end())) {
        return Unexpected(
            error(ZipErrorKind::localFileHeaderInvalid,
                  localizedString("its local header does not name it; the archive is damaged")));
    }
    std::span<const std::uint8_t> data = bytes.subspan(dataOffset, dataLength);
    DataLocation location;
    if (encryptionMode_ == ZipEncryptionMode::traditional) {
        // The 12-byte encryption header is counted in the compressed size.
        if (data.size() < traditionalHeaderLength) {
            return Unexpected(error(ZipErrorKind::localFileHeaderInvalid,
                                    localizedString("its encryption header is cut short")));
        }
        location.encryptionHeader = data.first(traditionalHeaderLength);
        data = data.subspan(traditionalHeaderLength);
    } else if (encryptionMode_ == ZipEncryptionMode::aes) {
        const auto localExtra = bytes.subspan(
            localOffset + localFileHeaderLength + local.fileNameLength(), local.extraFieldLength());
        const auto block = findExtraBlock(localExtra, winZipAesExtraId);
        // The strength byte sits at offset 4 of the block's data.
        const std::uint8_t strength =
            block && block->size() >= aesExtraDataLength ? (*block)[4] : 0;
        if (strength < 1 || strength > 3) {
            return Unexpected(error(ZipErrorKind::unsupportedEncryption,
                                    localizedString("its AES key strength is missing or unknown")));
        }
        // Salt of 8, 12 or 16 bytes and the verifier precede the data; the code follows it.
        const std::size_t saltLength = 4 * (std::size_t{strength} + 1);
        if (data.size() < saltLength + aesVerifierLength + aesAuthenticationCodeLength) {
            return Unexpected(error(ZipErrorKind::localFileHeaderInvalid,
                                    localizedString("its encryption header is cut short")));
        }
        location.aesStrength = strength;
        location.encryptionHeader = data.first(saltLength + aesVerifierLength);
        data = data.subspan(
            saltLength + aesVerifierLength,
            data.size() - saltLength - aesVerifierLength - aesAuthenticationCodeLength);
    }
    location.data = data;
    return location;
}

Expected<std::unique_ptr<InputStream>, ZipError> ZipExistingEntry::newDecryptingStream(
    const DataLocation& location, std::string_view password) const {
    auto upstream = std::make_unique<SpanInputStream>(location.data);
    const ZipCentralFileHeader header{centralFileHeader_};
    if (encryptionMode_ == ZipEncryptionMode::traditional) {
        TraditionalKeys keys(password);
        std::array<std::uint8_t, traditionalHeaderLength> decrypted{};
        for (std::size_t index = 0; index < decrypted.size(); ++index) {
            decrypted[index] = keys.decrypt(location.encryptionHeader[index]);
        }
        // With a data descriptor the CRC is not known when the header is written, so the
        // modification time stands in for it; old writers also check the byte before.
        const std::uint16_t checkValue = (header.flags() & dataDescriptorFlag)
                                             ? header.lastModTime()
                                             : static_cast<std::uint16_t>(header.crc32() >> 16);
        const bool matches = decrypted[11] == (checkValue >> 8) &&
                             (header.versionMadeBy() > 19 || decrypted[10] == (checkValue & 0xff));
        if (!matches) {
            return Unexpected(
                error(ZipErrorKind::wrongPassword, localizedString("the password is wrong")));
        }
        return std::unique_ptr<InputStream>(
            std::make_unique<TraditionalDecryptingStream>(std::move(upstream), keys));
    }
    const std::size_t keyLength = 8 * (std::size_t{location.aesStrength} + 1);
    const std::size_t saltLength = location.encryptionHeader.size() - aesVerifierLength;
    const auto material =
        deriveKeyWithPbkdf2Sha1(bytesOf(password), location.encryptionHeader.first(saltLength),
                                aesKeyDerivationIterations, 2 * keyLength + aesVerifierLength);
    if (material.size() != 2 * keyLength + aesVerifierLength) {
        return Unexpected(error(ZipErrorKind::unsupportedEncryption,
                                localizedString("its key cannot be derived")));
    }
    if (!std::equal(material.end() - aesVerifierLength, material.end(),
                    location.encryptionHeader.end() - aesVerifierLength)) {
        return Unexpected(
            error(ZipErrorKind::wrongPassword, localizedString("the password is wrong")));
    }
    auto cipher = AesCounterModeCipher::make({material.data(), keyLength});
    if (!cipher) {
        return Unexpected(
            error(ZipErrorKind::unsupportedEncryption, localizedString("its AES key is unusable")));
    }
    return std::unique_ptr<InputStream>(
        std::make_unique<AesDecryptingStream>(std::move(upstream), std::move(cipher)));
}

Expected<std::unique_ptr<InputStream>, ZipError> ZipExistingEntry::newStreamWithPassword(
    std::optional<std::string_view> password) const {
    if (auto readable = checkReadable(); !readable) return Unexpected(readable.error());
    const auto location = locateData();
    if (!location) return Unexpected(location.error());
    std::unique_ptr<InputStream> stream;
    if (encryptionMode_ == ZipEncryptionMode::none) {
        stream = std::make_unique<SpanInputStream>(location->data);
    } else {
        auto decrypting = newDecryptingStream(*location, password.value_or(""));
        if (!decrypting) return Unexpected(decrypting.error());
        stream = std::move(*decrypting);
    }
    if (compressionMethod() == deflateMethod) stream = makeInflatingStream(std::move(stream));
    return std::unique_ptr<InputStream>(std::make_unique<CrcCheckingStream>(
        std::move(stream), uncompressedSize(),
        hasMeaningfulCrc() ? std::optional<std::uint32_t>(crc32()) : std::nullopt));
}

// Reading the content:
//   1. refuse strong encryption (code 10) and methods other than stored and deflate (code 9);
//   2. locate the data inside the archive;
//   3. plain stored data is copied; plain deflate data is inflated in one call into a buffer
//      of the declared size; encrypted data is read through the decrypting (and inflating)
//      stream into a zero-filled buffer of the declared size;
//   4. the content must have the declared size and CRC-32, or the entry is damaged.
Expected<std::vector<std::uint8_t>, ZipError> ZipExistingEntry::newDataWithPassword(
    std::optional<std::string_view> password) const {
    if (auto readable = checkReadable(); !readable) return Unexpected(readable.error());
    const auto location = locateData();
    if (!location) return Unexpected(location.error());
    if (encryptionMode_ == ZipEncryptionMode::none && compressionMethod() == storedMethod) {
        if (auto verified = verifyContent(location->data); !verified) {
            return Unexpected(verified.error());
        }
        return std::vector<std::uint8_t>(location->data.begin(), location->data.end());
    }
    if (!isPlausibleUncompressedSize(uncompressedSize(), compressedSize())) {
        return Unexpected(error(
            ZipErrorKind::contentUnreadable,
            formatMessage(localizedString("it declares %1$@ bytes, more than "
                                          "its %2$@ compressed bytes can hold"),
                          std::to_string(uncompressedSize()), std::to_string(compressedSize()))));
    }
    if (encryptionMode_ == ZipEncryptionMode::none) {
        std::vector<std::uint8_t> content(uncompressedSize());
        if (!inflateRawDeflate(location->data, content)) {
            return Unexpected(
                error(ZipErrorKind::contentUnreadable,
                      localizedString("its compressed data is damaged or longer than declared")));
        }
        if (auto verified = verifyContent(content); !verified) return Unexpected(verified.error());
        return content;
    }
    auto stream = newStreamWithPassword(password);
    if (!stream) return Unexpected(stream.error());
    std::vector<std::uint8_t> content(uncompressedSize(), 0);
    std::size_t filled = 0;
    while (filled < content.size()) {
        const std::size_t count = (*stream)->read(content.data() + filled, content.size() - filled);
        if (count == 0) break;
        filled += count;
    }
    // The traditional scheme checks the password with a single byte, so one wrong password in
    // 256 passes the check; its key then yields garbage that does not inflate or fails the CRC.
    // That is reported as the wrong password it almost certainly is, not as a damaged archive.
    const auto wrongOrDamaged = [&](const ZipError& failure) {
        if (encryptionMode_ != ZipEncryptionMode::traditional) return failure;
        return error(
            ZipErrorKind::wrongPassword,
            localizedString("the password is wrong, or the entry's encrypted data is damaged"),
            failure.underlyingError);
    };
    if (const auto failure = (*stream)->error()) {
        return Unexpected(wrongOrDamaged(
            error(ZipErrorKind::contentUnreadable,
                  localizedString("its data could not be decrypted and decompressed"), failure)));
    }
    if (auto verified = verifyContent(content); !verified) {
        return Unexpected(wrongOrDamaged(verified.error()));
    }
    return content;
}

Expected<void, ZipError> ZipExistingEntry::check() const {
    const std::span<const std::uint8_t> bytes = *archive_.contents();
    const ZipCentralFileHeader central{centralFileHeader_};
    const ZipLocalFileHeader local{localFileHeader_};
    const auto mismatch = [&](std::string_view field) {
        return Unexpected(error(
            ZipErrorKind::localFileHeaderInvalid,
            formatMessage(
                localizedString("its local header disagrees with the central directory about %@"),
                field)));
    };
    if (local.signature() != localFileHeaderSignature)
        return mismatch(localizedString("the signature"));
    const auto localOffset = static_cast<std::uint64_t>(localFileHeader_ - bytes.data());
    // The local name and extra field must lie inside the archive before they are compared.
    const std::uint64_t dataOffset =
        localOffset + localFileHeaderLength + local.fileNameLength() + local.extraFieldLength();
    if (dataOffset > bytes.size())
        return mismatch(localizedString("the name, which runs past the archive's end"));
    const auto localName =
        bytes.subspan(localOffset + localFileHeaderLength, local.fileNameLength());
    const auto localExtra = bytes.subspan(
        localOffset + localFileHeaderLength + local.fileNameLength(), local.extraFieldLength());
    const ZipEncryptionMode localMode = encryptionModeOf(local.flags(), localExtra);
    if (local.versionNeeded() != central.versionNeeded())
        return mismatch(localizedString("the version needed"));
    if (local.flags() != central.flags()) return mismatch(localizedString("the flags"));
    if (aesAwareMethod(local.compressionMethod(), localMode, localExtra) != compressionMethod()) {
        return mismatch(localizedString("the compression method"));
    }
    if (local.lastModTime() != central.lastModTime() ||
        local.lastModDate() != central.lastModDate()) {
        return mismatch(localizedString("the modification date"));
    }
    const auto centralName = central.fileName();
    if (!std::equal(localName.begin(), localName.end(), centralName.begin(), centralName.end())) {
        return mismatch(localizedString("the name"));
    }
    std::uint32_t crc = local.crc32();
    // A local zip64 block holds both sizes, the original first, when either is a placeholder.
    const auto localZip64 = findExtraBlock(localExtra, zip64ExtraId);
    std::uint64_t compressed = local.compressedSize();
    std::uint64_t uncompressed = local.uncompressedSize();
    if (compressed == zip64Placeholder || uncompressed == zip64Placeholder) {
        if (localZip64 && localZip64->size() >= 16) {
            uncompressed = readUInt64(localZip64->data());
            compressed = readUInt64(localZip64->data() + 8);
        } else if (const auto values = resolveZip64Fields(
                       localExtra, {local.uncompressedSize(), local.compressedSize(), 0})) {
            uncompressed = (*values)[0];
            compressed = (*values)[1];
        } else {
            return mismatch(
                localizedString("the sizes, which its zip64 extra field is too short for"));
        }
    }
    if (local.flags() & dataDescriptorFlag) {
        // The descriptor (signature, CRC-32, sizes) follows the data and must fit in the
        // archive; a zip64 entry's descriptor has 8-byte sizes.
        const std::size_t descriptorLength =
            localZip64 ? zip64DataDescriptorLength : dataDescriptorLength;
        if (compressedSize() > bytes.size() - dataOffset ||
            descriptorLength > bytes.size() - dataOffset - compressedSize()) {
            return mismatch(localizedString("the data descriptor, which is missing"));
        }
        const std::uint8_t* descriptor = bytes.data() + dataOffset + compressedSize();
        if (readUInt32(descriptor) != dataDescriptorSignature) {
            return mismatch(localizedString("the data descriptor, which is missing"));
        }
        crc = readUInt32(descriptor + 4);
        compressed = localZip64 ? readUInt64(descriptor + 8) : readUInt32(descriptor + 8);
        uncompressed = localZip64 ? readUInt64(descriptor + 16) : readUInt32(descriptor + 12);
    }
    if (crc != central.crc32()) return mismatch(localizedString("the CRC-32"));
    if (compressed != compressedSize() || uncompressed != uncompressedSize()) {
        return mismatch(localizedString("the sizes"));
    }
    if (localMode != encryptionMode_) return mismatch(localizedString("the encryption"));
    return {};
}

}  // namespace pelkora
