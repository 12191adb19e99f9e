#pragma once
// The numbers of the texts in the message table that the launcher shows, each named once.
// Every part of the launcher (and its tools) that shows one of these texts uses the name here;
// a number written out anywhere else is a fault. The English wording is the default table's
// (assets/messages/en.txt); a deployment's table may word them differently.

// Caption of the patch step ("Patch #" followed by "n/m").
inline constexpr int kMsgPatchCaption = 13;

// Connect server.
inline constexpr int kMsgConnecting = 102;       // connecting to the connect server
inline constexpr int kMsgConnectRetrying = 107;  // it could not be reached; trying again
inline constexpr int kMsgChooseServer = 126;     // the server list is up

// Patch sessions.
inline constexpr int kMsgConnectingPatchServer = 108;
inline constexpr int kMsgFetchingVersionList = 109;
inline constexpr int kMsgReadingVersionList = 112;
inline constexpr int kMsgVersionListUnreadable = 113;
inline constexpr int kMsgTooManyVersions = 114;
inline constexpr int kMsgDownloadFailed = 116;  // one file could not be downloaded
inline constexpr int kMsgPatchListUnreadable = 119;
inline constexpr int kMsgNoSuchDirectory = 120;
inline constexpr int kMsgListingFiles = 121;
inline constexpr int kMsgDownloadingFiles = 122;
inline constexpr int kMsgPatchComplete = 123;
inline constexpr int kMsgCannotOpenRemote = 125;
inline constexpr int kMsgNoInternetSession = 134;
inline constexpr int kMsgConnectionRefused = 135;
inline constexpr int kMsgTooManyFiles = 136;
inline constexpr int kMsgCannotCreateLocal = 137;
inline constexpr int kMsgPatchFailed = 138;  // the update did not finish
// ... and no game is installed yet, so it cannot be started either (a table without this
// text gets the launcher's own English words).
inline constexpr int kMsgPatchFailedNoGame = 160;
inline constexpr int kMsgUnpacking = 146;

// Start-up and message boxes.
inline constexpr int kMsgAlreadyRunning = 127;
inline constexpr int kMsgProductCaption = 128;  // caption of the launcher's formatted boxes

// Game start (shell results 0, 2 or 3, 11) and the connection settings it writes.
inline constexpr int kMsgGameOutOfMemory = 131;
inline constexpr int kMsgGameDamaged = 132;
inline constexpr int kMsgGameNotFound = 133;
inline constexpr int kMsgConnectionNotSaved = 151;

// Connect-server socket.
inline constexpr int kMsgSocketFailed = 143;
inline constexpr int kMsgSocketNoWindow = 144;

// Options dialog.
inline constexpr int kMsgOptionsUnavailable = 200;
inline constexpr int kMsgOptionsTitle = 201;

// Web links of the main window's bottom buttons.
inline constexpr int kMsgHomePageLink = 2000;
inline constexpr int kMsgAccountLink = 2001;
inline constexpr int kMsgSupportLink = 2003;
