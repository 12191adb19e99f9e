#pragma once
// Shared set-up for the controller tests: a clean g_State, a text table whose texts name
// their numbers ("T102"), and a controller over a recording window with fake services.

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "app/FakeServices.h"
#include "app/RecordingWindow.h"
#include "app/UpdateDlg.h"
#include "platform/PollEventLoop.h"
#include "support/TestSupport.h"

// Puts the shared state record back to its zero-filled start.
void ResetLauncherState();
// Fills g_MessageTable with "T<number>" for every number the launcher core uses.
void LoadNumberedTexts();
// Drains everything posted to `loop` so far (and what those tasks post in turn).
void Drain(PollEventLoop& loop);
// Fills entry `index` of g_State.ServerEntries.
void SetServerEntry(int index, const char* name, const char* address, std::uint16_t port);

class ControllerFixture {
public:
    ControllerFixture();
    ~ControllerFixture();

    // Builds the controller (after the test has adjusted environment and fakes).
    CUpdateDlg& Dialog();
    // Dialog(), OnInitDialog, and drains the connect thread's first status.
    CUpdateDlg& InitialisedDialog();

    testsupport::TempDir Dir;
    PollEventLoop Loop;
    RecordingWindow Window{&Loop};
    LauncherEnvironment Environment;
    std::shared_ptr<FakeConnection> Connection = std::make_shared<FakeConnection>();
    std::shared_ptr<FakeGameStart> GameStart = std::make_shared<FakeGameStart>();
    std::shared_ptr<FakeClock> Clock = std::make_shared<FakeClock>();
    // The real patch sessions, unless a test sets this (FakeSessions).
    std::function<std::shared_ptr<PatchSessions>(PatchEngine&)> MakePatchSessions;
    // Makes the controller use a FakePatchSessions (before Dialog()).
    FakePatchSessions& FakeSessions();
    std::uint32_t Now = 100000;
    std::atomic<int> ConnectAttempts{0};
    std::vector<std::string> StartedArguments;
    std::vector<int> EndedWith;
    int StartResult = 42;

private:
    std::unique_ptr<CUpdateDlg> dialog_;
    std::shared_ptr<FakePatchSessions> fakeSessions_;
};
