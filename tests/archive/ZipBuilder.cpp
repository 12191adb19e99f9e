#include "archive/ZipBuilder.h"

#include <zlib.h>

#include <stdexcept>

namespace ziptest {

namespace {
void Put16(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}
}  // namespace

std::string Deflate(const std::string& data) {
    z_stream s{};
    if (deflateInit2(&s, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&s, data.size()) + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

std::uint32_t Crc32(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::string Build(const Archive& archive) {
    std::string body;
    std::string central;
    for (const Entry& e : archive.Entries) {
        const std::string payload = e.Method == 8 ? Deflate(e.Data) : e.Data;
        const std::uint32_t crc = e.Crc.value_or(Crc32(e.Data));
        const auto size = e.StatedSize.value_or(static_cast<std::uint32_t>(e.Data.size()));
        const auto offset = static_cast<std::uint32_t>(body.size());
        std::string fixed;  // fields shared by both headers, from "method" on
        Put16(fixed, e.Method);
        Put32(fixed, e.DosDateTime);
        Put32(fixed, crc);
        Put32(fixed, static_cast<std::uint32_t>(payload.size()));
        Put32(fixed, size);
        Put16(fixed, static_cast<std::uint32_t>(e.Name.size()));
        Put16(fixed, 0);  // extra length

        Put32(body, 0x04034B50);
        Put16(body, 20);
        Put16(body, 0);
        body += fixed + e.Name + payload;

        Put32(central, 0x02014B50);
        Put16(central, 20);
        Put16(central, 20);
        Put16(central, 0);
        central += fixed;
        Put16(central, 0);  // comment length
        Put16(central, 0);  // disk
        Put16(central, 0);  // internal attributes
        Put32(central, e.ExternalAttributes);
        Put32(central, offset);
        central += e.Name;
    }
    std::string out = archive.Prefix + body + central;
    Put32(out, 0x06054B50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, static_cast<std::uint32_t>(archive.Entries.size()));
    Put16(out, static_cast<std::uint32_t>(archive.Entries.size()));
    Put32(out, static_cast<std::uint32_t>(central.size()));
    Put32(out, static_cast<std::uint32_t>(body.size()));
    Put16(out, static_cast<std::uint32_t>(archive.Comment.size()));
    return out + archive.Comment;
}

std::string ReadAll(CUnzipFile& zip) {
    std::string out;
    std::vector<char> buffer(CUnzipFile::kReadBufferSize);
    zip.OpenEntry();
    for (;;) {
        const std::size_t got = zip.ReadEntry(buffer.data(), buffer.size());
        out.append(buffer.data(), got);
        if (got < buffer.size()) break;
    }
    return out;
}

int CauseOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const CZipException& e) {
        return e.cause;
    }
    return 0;
}

}  // namespace ziptest
