#pragma once
// What the connect-server messages do to the rest of the launcher.
//
// The message handlers decide; the main window and the patch engine act. The main window
// controller implements this interface, so the message layer never sees a window or a patch
// session. Every call runs on the GUI thread, inside the handling of a received packet.

#include <array>
#include <cstdint>

#include "net/PatchServerInfo.h"

class ConnectServerEvents {
public:
    virtual ~ConnectServerEvents() = default;

    // The connect server's greeting (code 0) was accepted; the requests follow.
    virtual void OnGreeting() {}
    // The go-ahead (codes 2 and 3): show the server buttons, end the connect thread.
    virtual void OnConnectReady() = 0;
    // Puts message number `number` of the text table on the first status line.
    virtual void SetStatusMessage(int number) = 0;
    // Shows the start button and enables it.
    virtual void ShowAndEnableStartButton() = 0;
    // The installed client version: major, minor, build.
    virtual std::array<std::uint8_t, 3> ClientVersion() const = 0;

    // HTTP patch server (code 4). The texts arrive still coded (info.Coded is true); the
    // receiver decodes them (PatchServerInfo::Decode) before it hands them on.
    virtual void SetHttpPatchServer(const PatchServerInfo& codedInfo) = 0;
    // Starts the HTTP session in the background; false when it could not start.
    virtual bool StartHttpPatch() = 0;
    // FTP patch server (codes 5 and 8), texts decoded. Runs the whole session before it
    // returns; false when a step failed (the session has reported it already).
    virtual bool RunFtpPatch(const PatchServerInfo& info) = 0;
    // True while a patch session runs or unwinds: a patch-server message that arrives then
    // is dropped, since two sessions would share the version list, the token reader,
    // patch.log and the Temp directory.
    virtual bool PatchSessionActive() const { return false; }
};
