#include "ConnectdSession.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

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
// "split": pieces of this many bytes, this far apart, so that they arrive in separate reads.
constexpr std::size_t kSplitPieceSize = 3;
constexpr int kSplitPauseMs = 15;

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

ConnectdSession::ConnectdSession(std::shared_ptr<const ConnectdSettings> settings,
                                 std::function<void(const std::string&)> trace)
    : settings_(std::move(settings)), trace_(std::move(trace)) {}

std::vector<OutgoingPiece> ConnectdSession::Start() {
    return Stream({BuildGreeting(settings_->GreetingResult)});
}

ConnectdSession::Input ConnectdSession::Receive(const std::uint8_t* data, std::size_t size,
                                                std::vector<OutgoingPiece>& out) {
    std::vector<Packet> replies;
    while (size > 0) {
        const std::size_t take = std::min(size, received_.size() - receivedLength_);
        if (take == 0) return Input::TooLong;
        std::memcpy(received_.data() + receivedLength_, data, take);
        receivedLength_ += take;
        data += take;
        size -= take;

        std::size_t position = 0;
        while (position < receivedLength_) {
            const std::uint8_t* packet = received_.data() + position;
            const std::size_t available = receivedLength_ - position;
            std::size_t length = 0;
            const auto status = packetframe::PeekFrame(packet, available, &length);
            if (status == packetframe::FrameStatus::NeedMore) {
                if (length > received_.size()) return Input::TooLong;
                break;
            }
            if (status != packetframe::FrameStatus::Complete) {
                Trace("recv (unframable, dropped)", packet, available);
                position = receivedLength_;
                break;
            }
            Trace("recv", packet, length);
            Answer(packet, length, replies);
            position += length;
        }
        std::memmove(received_.data(), received_.data() + position, receivedLength_ - position);
        receivedLength_ -= position;
    }

    if (settings_->Misbehave == Misbehaviour::Coalesce) {
        pending_.insert(pending_.end(), replies.begin(), replies.end());
        if (!Answered() || pending_.empty()) return Input::Ok;
        replies.swap(pending_);
        pending_.clear();
    }
    if (!replies.empty()) {
        auto pieces = Stream(std::move(replies));
        out.insert(out.end(), pieces.begin(), pieces.end());
    }
    return Input::Ok;
}

std::string ConnectdSession::Summary() const {
    std::string text = "version " + (version_.empty() ? std::string("not asked") : version_);
    text += sawListRequest_ ? ", list sent" : ", no list asked";
    if (reply_) text += std::string(", ") + reply_;
    return text;
}

void ConnectdSession::Answer(const std::uint8_t* packet, std::size_t length,
                             std::vector<Packet>& replies) {
    const ConnectdSettings& settings = *settings_;
    const int code = packetframe::PacketCode(packet, length);
    if (code == kRequestServerList) {
        sawListRequest_ = true;
        replies.push_back(BuildServerList(settings));
    } else if (code == kRequestVersion && length >= 6) {
        sawVersionRequest_ = true;
        const std::array<std::uint8_t, 3> version{packet[3], packet[4], packet[5]};
        version_ = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                   std::to_string(version[2]);
        const bool current = settings.CurrentVersion &&
                             std::lexicographical_compare(version.begin(), version.end(),
                                                          settings.CurrentVersion->begin(),
                                                          settings.CurrentVersion->end()) == false;
        if (settings.Patch == PatchKind::None || current) {
            replies.push_back(BuildGoAhead(settings));
            reply_ = "go-ahead";
        } else {
            replies.push_back(BuildPatchServer(settings));
            reply_ = settings.Patch == PatchKind::Ftp ? "ftp patch server" : "http patch server";
        }
    }
}

std::vector<OutgoingPiece> ConnectdSession::Stream(std::vector<Packet> packets) {
    const Misbehaviour misbehave = settings_->Misbehave;
    Packet stream;
    std::vector<Packet> sentPackets;
    for (Packet& packet : packets) {
        const int code = packetframe::PacketCode(packet.data(), packet.size());
        if (misbehave == Misbehaviour::ShortPacket &&
            (code == kCodeServerList || code == kCodeHttp || code == kCodeFtp ||
             code == kCodeFtpWithList)) {
            packet.resize(kShortPacketLength);
            SetHeader(packet, static_cast<std::uint8_t>(code));
        }
        if (misbehave == Misbehaviour::BadHead && sentGreeting_) packet[0] = 0xC3;
        stream.insert(stream.end(), packet.begin(), packet.end());
        sentPackets.push_back(packet);
    }
    if (misbehave == Misbehaviour::ZeroLength && sentGreeting_) {
        static constexpr std::uint8_t kZero[3] = {0xC1, 0x00, 0x00};
        stream.insert(stream.begin(), kZero, kZero + sizeof kZero);
        sentPackets.insert(sentPackets.begin(), Packet(kZero, kZero + sizeof kZero));
    }
    sentGreeting_ = true;
    for (const Packet& packet : sentPackets) Trace("send", packet.data(), packet.size());

    std::vector<OutgoingPiece> pieces;
    if (misbehave != Misbehaviour::Split) {
        pieces.push_back({std::move(stream), 0});
        return pieces;
    }
    for (std::size_t i = 0; i < stream.size(); i += kSplitPieceSize) {
        const auto end = stream.begin() +
                         static_cast<std::ptrdiff_t>(std::min(stream.size(), i + kSplitPieceSize));
        pieces.push_back(
            {Packet(stream.begin() + static_cast<std::ptrdiff_t>(i), end), kSplitPauseMs});
    }
    return pieces;
}

void ConnectdSession::Trace(const char* what, const std::uint8_t* data, std::size_t size) const {
    if (trace_) trace_(std::string(what) + " " + Hex(data, size));
}
