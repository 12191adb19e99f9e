#include "app/AppTestSupport.h"

#include <cstring>
#include <thread>

#include "app/LauncherState.h"
#include "text/MessageTable.h"

void ResetLauncherState() {
    std::memset(g_State.ServerAddress, 0, sizeof(g_State.ServerAddress));
    g_State.LaunchMode = 0;
    g_State.ServerPort = 0;
    std::memset(g_State.CommandLineVersion, 0, sizeof(g_State.CommandLineVersion));
    g_State.TestServer = 0;
    g_State.AltServerValid = 0;
    std::memset(g_State.AltServerAddress, 0, sizeof(g_State.AltServerAddress));
    std::memset(g_State.AltServerList, 0, sizeof(g_State.AltServerList));
    std::memset(g_State.ServerEntries, 0, sizeof(g_State.ServerEntries));
    g_State.SelectedServer = 0;
    std::memset(g_State.LaunchAddress, 0, sizeof(g_State.LaunchAddress));
    std::memset(g_State.LaunchPort, 0, sizeof(g_State.LaunchPort));
    g_State.ServerListReceived = 0;
    g_State.ProgressVisible = 0;
}

void LoadNumberedTexts() {
    g_MessageTable.Clear();
    for (int number : {102, 107, 108, 109, 123, 126, 127, 128, 131, 132, 133, 138, 151, 2000, 2001,
                       2002, 2003}) {
        const std::string text = "T" + std::to_string(number);
        g_MessageTable.Add(number, text.c_str());
    }
}

void Drain(PollEventLoop& loop) {
    while (loop.RunFor(0) > 0) {
    }
}

void SetServerEntry(int index, const char* name, const char* address, std::uint16_t port) {
    ServerEntry& entry = g_State.ServerEntries[index];
    std::memset(&entry, 0, sizeof(entry));
    std::memcpy(entry.Name, name, std::min(std::strlen(name), sizeof(entry.Name)));
    std::memcpy(entry.Address, address, std::min(std::strlen(address), sizeof(entry.Address)));
    entry.Port = port;
}

ControllerFixture::ControllerFixture() {
    ResetLauncherState();
    LoadNumberedTexts();
    Environment.Settings = DefaultDeploymentSettings(Dir.Path());
    Environment.Settings.RegistryDirectory = Dir / "registry";
    Environment.Settings.CodePage = "CP949";
    Environment.GameDirectory = Dir / "game";
    Environment.ProgramPath = Dir / "game" / "torvane";
    // Fake connections never greet: no test waits for a greeting unless it sets a timeout.
    Environment.GreetingTimeoutMs = 0;
    std::filesystem::create_directories(Environment.GameDirectory);
    std::filesystem::create_directories(Environment.Settings.RegistryDirectory);

    // By default the connect server answers at once, so the connect thread ends quickly.
    Connection->OnConnect = [this](const std::string&, std::uint16_t) {
        ++ConnectAttempts;
        return true;
    };
    Clock->OnTick = [this] { return Now; };
    GameStart->OnStart = [this](const std::string& file, const std::string& arguments) {
        StartedArguments.push_back(file + "|" + arguments);
        return StartResult;
    };
    GameStart->OnEnd = [this](int result) { EndedWith.push_back(result); };
}

ControllerFixture::~ControllerFixture() {
    if (dialog_) dialog_->OnClose();
    dialog_.reset();
    Drain(Loop);
}

CUpdateDlg& ControllerFixture::Dialog() {
    if (!dialog_) {
        LauncherServices services;
        services.Connection = Connection;
        services.GameStart = GameStart;
        services.Clock = Clock;
        services.MakePatchSessions = MakePatchSessions;
        dialog_ = std::make_unique<CUpdateDlg>(Loop, Environment, std::move(services));
        dialog_->AttachWindow(Window);
    }
    return *dialog_;
}

CUpdateDlg& ControllerFixture::InitialisedDialog() {
    CUpdateDlg& dialog = Dialog();
    dialog.OnInitDialog();
    // Every fake Connect counts its attempt; the status of the first one is posted before it.
    while (ConnectAttempts.load() == 0) std::this_thread::yield();
    Drain(Loop);
    return dialog;
}

FakePatchSessions& ControllerFixture::FakeSessions() {
    if (!fakeSessions_) {
        fakeSessions_ = std::make_shared<FakePatchSessions>();
        MakePatchSessions = [fake = fakeSessions_](PatchEngine& engine) {
            fake->Engine = &engine;
            return fake;
        };
    }
    return *fakeSessions_;
}
