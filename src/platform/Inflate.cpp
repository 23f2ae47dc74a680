#include "platform/Inflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>
#include <system_error>

namespace pelkora {

namespace {

// Negative window bits tell zlib the data has no header and no trailing checksum.
constexpr int rawDeflateWindowBits = -MAX_WBITS;

class InflatingStream final : public InputStream {
  public:
    explicit InflatingStream(std::unique_ptr<InputStream> upstream)
        : upstream_(std::move(upstream)) {
        if (inflateInit2(&stream_, rawDeflateWindowBits) == Z_OK) {
            initialised_ = true;
        } else {
            finish(std::make_error_code(std::errc::not_enough_memory));
        }
    }
    ~InflatingStream() override {
        if (initialised_) inflateEnd(&stream_);
    }

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        if (!open_ || capacity == 0) return 0;
        // zlib counts in uInt; a larger request is simply served in part.
        stream_.next_out = buffer;
        stream_.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30));
        while (stream_.avail_out > 0) {
            if (stream_.avail_in == 0 && !upstreamEnded_) refill();
            if (!open_) break;
            const uInt before = stream_.avail_out;
            const int status = inflate(&stream_, Z_NO_FLUSH);
            if (status == Z_STREAM_END) {
                finish({});
                break;
            }
            if (status == Z_BUF_ERROR && stream_.avail_in == 0 && upstreamEnded_) {
                // The deflate data stops before its final block: truncated.
                finish(std::make_error_code(std::errc::illegal_byte_sequence));
                break;
            }
            if (status != Z_OK && status != Z_BUF_ERROR) {
                finish(std::make_error_code(std::errc::illegal_byte_sequence));
                break;
            }
            // Output so far is handed out before waiting for more input.
            if (stream_.avail_out != before && stream_.avail_in == 0) break;
        }
        return static_cast<std::size_t>(stream_.next_out - buffer);
    }
    bool hasBytesAvailable() const override { return open_; }
    std::error_code error() const override { return error_; }

  private:
    void refill() {
        const std::size_t count = upstream_->read(chunk_.data(), chunk_.size());
        stream_.next_in = chunk_.data();
        stream_.avail_in = static_cast<uInt>(count);
        if (count == 0) {
            upstreamEnded_ = true;
            if (upstream_->error()) finish(upstream_->error());
        }
    }
    void finish(std::error_code error) {
        open_ = false;
        error_ = error;
    }

    std::unique_ptr<InputStream> upstream_;
    z_stream stream_{};
    std::array<std::uint8_t, 16384> chunk_{};
    bool initialised_ = false;
    bool upstreamEnded_ = false;
    bool open_ = true;
    std::error_code error_;
};

}  // namespace

bool inflateRawDeflate(std::span<const std::uint8_t> input, std::span<std::uint8_t> output) {
    // One inflate call must see the whole input and output, and zlib counts both in uInt.
    if (input.size() > std::numeric_limits<uInt>::max() ||
        output.size() > std::numeric_limits<uInt>::max()) {
        return false;
    }
    z_stream stream{};
    if (inflateInit2(&stream, rawDeflateWindowBits) != Z_OK) return false;
    // zlib refuses a null output pointer even when there is no room to write.
    std::uint8_t nothing = 0;
    stream.next_in = const_cast<Bytef*>(input.data());
    stream.avail_in = static_cast<uInt>(input.size());
    stream.next_out = output.empty() ? &nothing : output.data();
    stream.avail_out = static_cast<uInt>(output.size());
    const int status = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

std::unique_ptr<InputStream> makeInflatingStream(std::unique_ptr<InputStream> upstream) {
    return std::make_unique<InflatingStream>(std::move(upstream));
}

std::uint32_t updateCrc32(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    uLong value = crc;
    // zlib takes at most a uInt's worth of bytes per call.
    while (!bytes.empty()) {
        const std::size_t count =
            std::min<std::size_t>(bytes.size(), std::numeric_limits<uInt>::max());
        value = ::crc32(value, bytes.data(), static_cast<uInt>(count));
        bytes = bytes.subspan(count);
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace pelkora
