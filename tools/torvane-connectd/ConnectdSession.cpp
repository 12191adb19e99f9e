#include "ConnectdSession.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "net/PacketFrame.h"
#include "net/PatchServerInfo.h"

namespace {

constexpr std::uint8_t kCodeGoAhead = 2;
constexpr std::uint8_t kCodeGoAheadWithList = 3;
constexpr std::uint8_t kCodeHttp = 4;
constexpr std::uint8_t kCodeFtp = 5;
constexpr std::uint8_t kCodeFtpWithList = 8;
constexpr std::uint8_t kCodeServerList = 9;
constexpr std::uint8_t kRequestServerList = 9;
constexpr std::uint8_t kRequestVersion = 4;
// How much of a list or patch-server packet "short_packet" keeps.
constexpr std::size_t kShortPacketLength = 40;

// Sets the header of a packet whose fields were written at their offsets (offset 4 on).
void SetHeader(Packet& packet, std::uint8_t code) {
    const std::size_t size = packet.size();
    if (size <= 255) {
        packet[0] = packetframe::kHeadC1;
        packet[1] = static_cast<std::uint8_t>(size);
        packet[2] = code;
    } else {
        packet[0] = packetframe::kHeadC2;
        packet[1] = static_cast<std::uint8_t>(size >> 8);
        packet[2] = static_cast<std::uint8_t>(size & 0xFF);
        packet[3] = code;
    }
}

void PutText(Packet& packet, std::size_t offset, std::size_t size, const std::string& text,
             bool coded) {
    std::vector<char> field(size, '\0');
    std::memcpy(field.data(), text.data(), std::min(size, text.size()));
    if (coded) XorCodeField(field.data(), size);
    std::memcpy(packet.data() + offset, field.data(), size);
}

void PutAddressList(Packet& packet, std::size_t offset, const ConnectdSettings& settings) {
    packet[offset] = settings.SendAddressList ? 1 : 0;
    packet[offset + 1] = static_cast<std::uint8_t>(settings.AddressList.size());
    for (std::size_t i = 0; i < settings.AddressList.size(); ++i) {
        std::memcpy(packet.data() + offset + 2 + 4 * i, &settings.AddressList[i], 4);
    }
}

std::string Hex(const std::uint8_t* data, std::size_t size) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
        text += byte;
    }
    return text;
}

void Log(const char* what, const std::uint8_t* data, std::size_t size) {
    std::fprintf(stderr, "%s %s\n", what, Hex(data, size).c_str());
    std::fflush(stderr);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

class Session {
public:
    Session(int fd, const ConnectdSettings& settings) : fd_(fd), settings_(settings) {}

    void Run() {
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (!Send({BuildGreeting(settings_.GreetingResult)})) return;
        std::vector<std::uint8_t> buffer;
        std::uint8_t chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            buffer.insert(buffer.end(), chunk, chunk + n);
            if (!FrameAndAnswer(buffer)) return;
        }
    }

private:
    bool FrameAndAnswer(std::vector<std::uint8_t>& buffer) {
        std::vector<Packet> replies;
        std::size_t position = 0;
        while (position < buffer.size()) {
            std::size_t length = 0;
            const auto status =
                packetframe::PeekFrame(buffer.data() + position, buffer.size() - position, &length);
            if (status == packetframe::FrameStatus::NeedMore) break;
            if (status != packetframe::FrameStatus::Complete) {
                Log("recv (unframable, dropped)", buffer.data() + position,
                    buffer.size() - position);
                position = buffer.size();
                break;
            }
            const std::uint8_t* packet = buffer.data() + position;
            Log("recv", packet, length);
            Answer(packet, length, replies);
            position += length;
        }
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(position));
        if (settings_.Misbehave == Misbehaviour::Coalesce) {
            pending_.insert(pending_.end(), replies.begin(), replies.end());
            if (!(sawListRequest_ && sawVersionRequest_) || pending_.empty()) return true;
            replies.swap(pending_);
            pending_.clear();
        }
        return replies.empty() || Send(replies);
    }

    void Answer(const std::uint8_t* packet, std::size_t length, std::vector<Packet>& replies) {
        const int code = packetframe::PacketCode(packet, length);
        if (code == kRequestServerList) {
            sawListRequest_ = true;
            replies.push_back(BuildServerList(settings_));
        } else if (code == kRequestVersion && length >= 6) {
            sawVersionRequest_ = true;
            const std::array<std::uint8_t, 3> version{packet[3], packet[4], packet[5]};
            const bool current =
                settings_.CurrentVersion &&
                std::lexicographical_compare(version.begin(), version.end(),
                                             settings_.CurrentVersion->begin(),
                                             settings_.CurrentVersion->end()) == false;
            if (settings_.Patch == PatchKind::None || current) {
                replies.push_back(BuildGoAhead(settings_));
            } else {
                replies.push_back(BuildPatchServer(settings_));
            }
        }
    }

    // Sends the packets, broken as the settings ask; false when the client has gone.
    bool Send(std::vector<Packet> packets) {
        Packet stream;
        std::vector<Packet> sentPackets;
        for (Packet& packet : packets) {
            const int code = packetframe::PacketCode(packet.data(), packet.size());
            if (settings_.Misbehave == Misbehaviour::ShortPacket &&
                (code == kCodeServerList || code == kCodeHttp || code == kCodeFtp ||
                 code == kCodeFtpWithList)) {
                packet.resize(kShortPacketLength);
                SetHeader(packet, static_cast<std::uint8_t>(code));
            }
            if (settings_.Misbehave == Misbehaviour::BadHead && sentGreeting_) packet[0] = 0xC3;
            stream.insert(stream.end(), packet.begin(), packet.end());
            sentPackets.push_back(packet);
        }
        if (settings_.Misbehave == Misbehaviour::ZeroLength && sentGreeting_) {
            static constexpr std::uint8_t kZero[3] = {0xC1, 0x00, 0x00};
            stream.insert(stream.begin(), kZero, kZero + sizeof kZero);
            sentPackets.insert(sentPackets.begin(), Packet(kZero, kZero + sizeof kZero));
        }
        sentGreeting_ = true;
        bool ok = true;
        if (settings_.Misbehave != Misbehaviour::Split) {
            ok = WriteAll(fd_, stream.data(), stream.size());
        } else {
            // Small pieces with pauses between them, so that they arrive in separate reads.
            for (std::size_t i = 0; ok && i < stream.size(); i += 3) {
                ok = WriteAll(fd_, stream.data() + i, std::min<std::size_t>(3, stream.size() - i));
                std::this_thread::sleep_for(std::chrono::milliseconds(15));
            }
        }
        // Logged once written, so a reader of the log knows the bytes are on their way.
        for (const Packet& packet : sentPackets) {
            Log(ok ? "send" : "send failed", packet.data(), packet.size());
        }
        return ok;
    }

    int fd_;
    const ConnectdSettings& settings_;
    bool sentGreeting_ = false;
    bool sawListRequest_ = false;
    bool sawVersionRequest_ = false;
    std::vector<Packet> pending_;
};

}  // namespace

Packet BuildGreeting(std::uint8_t result) {
    return Packet{packetframe::kHeadC1, 0x04, 0x00, result};
}

Packet BuildServerList(const ConnectdSettings& settings) {
    Packet packet(4 + 10 * 50, 0);
    for (std::size_t i = 0; i < settings.Servers.size(); ++i) {
        const ConnectdServer& server = settings.Servers[i];
        const std::size_t offset = 4 + 50 * i;
        PutText(packet, offset, 32, server.Name, false);
        PutText(packet, offset + 32, 16, server.Address, false);
        packet[offset + 48] = static_cast<std::uint8_t>(server.Port & 0xFF);
        packet[offset + 49] = static_cast<std::uint8_t>(server.Port >> 8);
    }
    SetHeader(packet, kCodeServerList);
    return packet;
}

Packet BuildGoAhead(const ConnectdSettings& settings) {
    if (!settings.SendAddressList) {
        Packet packet{0, 0, 0};
        SetHeader(packet, kCodeGoAhead);
        return packet;
    }
    Packet packet(6 + 4 * settings.AddressList.size(), 0);
    PutAddressList(packet, 4, settings);
    SetHeader(packet, kCodeGoAheadWithList);
    return packet;
}

Packet BuildPatchServer(const ConnectdSettings& settings) {
    const bool ftp = settings.Patch == PatchKind::Ftp;
    const bool withList = ftp && settings.SendAddressList;
    Packet packet(
        PatchServerInfo::kEndOffset + (withList ? 2 + 4 * settings.AddressList.size() : 0), 0);
    PutText(packet, PatchServerInfo::kHostOffset, PatchServerInfo::kHostSize, settings.PatchHost,
            true);
    packet[PatchServerInfo::kPortOffset] = static_cast<std::uint8_t>(settings.PatchPort & 0xFF);
    packet[PatchServerInfo::kPortOffset + 1] = static_cast<std::uint8_t>(settings.PatchPort >> 8);
    PutText(packet, PatchServerInfo::kUserOffset, PatchServerInfo::kTextSize, settings.PatchUser,
            true);
    PutText(packet, PatchServerInfo::kPasswordOffset, PatchServerInfo::kTextSize,
            settings.PatchPassword, true);
    PutText(packet, PatchServerInfo::kVersionFileOffset, PatchServerInfo::kTextSize,
            settings.PatchVersionFile, true);
    if (withList) PutAddressList(packet, PatchServerInfo::kEndOffset, settings);
    SetHeader(packet, !ftp ? kCodeHttp : (withList ? kCodeFtpWithList : kCodeFtp));
    return packet;
}

void RunConnectdSession(int fd, const ConnectdSettings& settings) {
    Session(fd, settings).Run();
}
