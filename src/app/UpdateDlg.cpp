#include "app/UpdateDlg.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

#include "app/DefaultServices.h"
#include "app/LauncherState.h"
#include "options/GameSettings.h"
#include "platform/CodePage.h"
#include "platform/GamePath.h"
#include "platform/OpenRegistry.h"
#include "text/MessageNumbers.h"
#include "text/MessageTable.h"
#include "ui/ProgressBar.h"

namespace {

constexpr const char* kClickSound = "data\\sound\\beep.wav";

// A failed update says the game can still be started; with no game client in the folder yet
// it says so instead (these words when the deployment's table lacks the text).
constexpr const char* kPatchFailedNoGameText =
    "The update did not finish, and the game is not installed yet. Start the launcher again to "
    "go on.";

bool HasText(int number) {
    for (const MessageNode* node = g_MessageTable.FirstRecord(); node; node = node->Next)
        if (node->Number == number) return true;
    return false;
}
constexpr const char* kProductTitleName = "Quenmar";

constexpr int kBottomButtons[] = {ControlId::Link2, ControlId::Link1, ControlId::Link4,
                                  ControlId::Link3, ControlId::Exit};

// "1.00.02" of a packed version number.
std::string VersionLabelOf(std::int32_t packed) {
    char text[16];
    std::snprintf(text, sizeof text, "%d.%02d.%02d", (packed >> 16) & 0xFF, (packed >> 8) & 0xFF,
                  packed & 0xFF);
    return text;
}

// A fixed-size text field of the wire: up to its first NUL, never past its end.
std::string FieldText(const char* field, std::size_t size) {
    return std::string(field, strnlen(field, size));
}

}  // namespace

CUpdateDlg::CUpdateDlg(EventLoop& loop, LauncherEnvironment environment, LauncherServices services)
    : loop_(loop),
      environment_(std::move(environment)),
      services_(CompleteServices(std::move(services), environment_.Settings,
                                 environment_.GameDirectory, loop)),
      registry_(OpenRegistry(environment_.Settings)),
      engine_(*this, GamePath(environment_.GameDirectory), LaunchSettingsOf(g_State)),
      messages_(g_State, *this),
      patches_(services_.MakePatchSessions(engine_)) {
    engine_.LoadLocalVersion();
    engine_.GameClientName = environment_.Settings.GameClient;
    if (!environment_.Settings.TrustedKeys.empty()) {
        std::vector<std::string> problems;
        auto keys =
            RepositoryVerifier::ParseTrustedKeys(environment_.Settings.TrustedKeys, problems);
        for (const auto& problem : problems) std::fprintf(stderr, "torvane: %s\n", problem.c_str());
        verifier_ = std::make_unique<RepositoryVerifier>(
            std::move(keys), environment_.GameDirectory / RepositoryVerifier::kSerialFileName);
        engine_.Verifier = verifier_.get();
    }
}

CUpdateDlg::~CUpdateDlg() {
    alive_->store(false);
    StopConnectThread();
    patches_->StopHttp();
    // The connection's packet handler points into this object.
    services_.Connection->CloseConnection();
    g_State.Connection.SetMessageSink(nullptr, nullptr);
}

std::string CUpdateDlg::Text(int number) const {
    return GetText(number);
}

void CUpdateDlg::OnInitDialog() {
    window_->SetBackgroundBitmap(skin::kServerViewBackground);
    BuildControls();
    SyncWindowModeSetting();
    g_State.Connection.SetMessageSink(
        [this](const std::string& text, const std::string& caption, MessageBoxIcon icon) {
            ShowMessageBox(text, caption, icon);
        },
        [](int number) { return std::string(GetText(number)); });
    g_State.Connection.Initialize();
    PrepareWorkingFiles();
    connectRequest_ = 1;
    StartConnectThread();
    services_.GameStart->CreateDesktopEntry(environment_.ProgramPath);
}

void CUpdateDlg::BuildControls() {
    for (int id : kBottomButtons) window_->ShowControl(id, false);
    window_->ShowControl(ControlId::SmallClose, true);
    window_->EnableControl(ControlId::Connect, false);
    for (int id : {ControlId::Option, ControlId::Connect, ControlId::CloseBig})
        window_->ShowControl(id, false);
    for (int i = 0; i < kServerEntryCount; ++i)
        window_->ShowControl(ControlId::FirstServer + i, false);
    MoveNewsView(skin::kServerViewNews);
    window_->NavigateBrowser("http://" + environment_.Settings.NewsHost + "/gg.htm");
    ShowProgressView();
}

void CUpdateDlg::MoveNewsView(const WindowRect& place) {
    window_->MoveBrowser(place.Left, place.Top, place.Width(), place.Height());
}

void CUpdateDlg::SyncWindowModeSetting() {
    // The options model owns the value; the window keeps what it read in its hidden check box.
    windowMode_ = static_cast<std::uint32_t>(::SyncWindowModeSetting(*registry_));
}

void CUpdateDlg::PrepareWorkingFiles() {
    engine_.RemoveGameFile(environment_.Settings.ProductName + ".tmp");
    if (auto temp = engine_.Resolve(PatchEngine::kTempDirectory)) {
        std::error_code ec;
        std::filesystem::create_directory(*temp, ec);
    }
}

void CUpdateDlg::PostToWindow(std::function<void()> task) {
    std::weak_ptr<std::atomic<bool>> alive = alive_;
    loop_.Post([alive, task = std::move(task)] {
        auto flag = alive.lock();
        if (flag && flag->load()) task();
    });
}

// ---------------------------------------------------------------------------------------------
// Painting

MainWindowPaintState CUpdateDlg::PaintState() const {
    MainWindowPaintState state;
    state.ProgressVisible = g_State.ProgressVisible != 0;
    state.StatusText = statusText_;
    state.TitleText = titleText_;
    // Percent texts belong to the progress view; the server view shows none.
    if (state.ProgressVisible) state.PercentText = percentText_;
    for (int i = 0; i < 2; ++i) {
        state.BarRange[i] = barRange_[i];
        state.BarPosition[i] = barPosition_[i];
    }
    state.ProgressCaption = engine_.ProgressCaption();
    {
        std::lock_guard<std::mutex> lock(transferMutex_);
        state.TransferName = transfer_.Name;
        state.TransferDone = transfer_.Done;
        state.TransferTotal = transfer_.Total;
        state.TransferStarted = transferStarted_;
        state.TransferStartDone = transferStartDone_;
    }
    if (!state.TransferName.empty()) state.TransferVersion = VersionLabelOf(engine_.TargetVersion);
    return state;
}

void CUpdateDlg::SetStatusText(const std::string& text) {
    if (PostedFromWorker([this, text] { SetStatusText(text); })) return;
    if (text != statusText_ && !text.empty()) LogEvent("status: " + ForLog(text));
    statusText_ = text;
    window_->Repaint(skin::kStatusArea, PaintState());
}

void CUpdateDlg::SetStatusText(int messageNumber) {
    // "You can still start the game" is only true when there is a game to start.
    if (messageNumber == kMsgPatchFailed && !GameInstalled()) {
        SetStatusText(HasText(kMsgPatchFailedNoGame) ? Text(kMsgPatchFailedNoGame)
                                                     : std::string(kPatchFailedNoGameText));
        return;
    }
    SetStatusText(Text(messageNumber));
}

bool CUpdateDlg::GameInstalled() const {
    const auto client =
        GamePath(environment_.GameDirectory).Resolve(environment_.Settings.GameClient);
    std::error_code ec;
    return client && std::filesystem::is_regular_file(*client, ec);
}

void CUpdateDlg::SetTitleText(const std::string& text) {
    titleText_ = text;
    window_->Repaint(skin::kTitleArea, PaintState());
}

void CUpdateDlg::UpdateProgressText() {
    if (PostedFromWorker([this] { UpdateProgressText(); })) return;
    for (int i = 0; i < 2; ++i) {
        percentText_[i] = g_State.ProgressVisible
                              ? std::to_string(ProgressPercent(barPosition_[i], barRange_[i])) + "%"
                              : std::string();
    }
    window_->Repaint(skin::kPercentArea, PaintState());
}

void CUpdateDlg::RefreshWindow() {
    if (PostedFromWorker([this] { RefreshWindow(); })) return;
    // The percent texts follow the bars on every repaint, not once per patch: a text must
    // never say 100% beside a bar at 12%.
    if (barsMoved_.exchange(false) && g_State.ProgressVisible) {
        for (int i = 0; i < 2; ++i)
            percentText_[i] = std::to_string(ProgressPercent(barPosition_[i], barRange_[i])) + "%";
    }
    window_->Repaint(skin::kWholeWindow, PaintState());
}

void CUpdateDlg::SetBarRange(PatchBar bar, int range) {
    barRange_.at(static_cast<int>(bar)) = std::max(range, 1);
    barsMoved_ = true;
}

void CUpdateDlg::SetBarPosition(PatchBar bar, int position) {
    const int i = static_cast<int>(bar);
    barPosition_.at(i) = std::clamp(position, 0, barRange_.at(i).load());
    barsMoved_ = true;
}

void CUpdateDlg::OnTransferProgress(const TransferProgress& progress) {
    std::lock_guard<std::mutex> lock(transferMutex_);
    // Another file, or the same one again from fewer bytes: a new transfer begins. A report of
    // nothing yet (a name shown before the server answered) does not start it: a download
    // that continues kept bytes starts from those, not from zero.
    const bool announcedOnly = transfer_.Done == 0 && transfer_.Total == 0;
    if (progress.Name != transfer_.Name || progress.Done < transfer_.Done || announcedOnly) {
        transferStarted_ = std::chrono::steady_clock::now();
        transferStartDone_ = progress.Done;
    }
    transfer_ = progress;
}

std::string CUpdateDlg::ForLog(const std::string& codePageText) const {
    return DecodeToUtf8(codePageText, environment_.Settings.CodePage);
}

void CUpdateDlg::LogEvent(const std::string& text) {
    if (environment_.Log) environment_.Log->Write(text);
}

void CUpdateDlg::LogFailure(const std::string& text) {
    if (environment_.Log)
        environment_.Log->Fail(text);
    else
        std::fprintf(stderr, "torvane: %s\n", text.c_str());
}

std::string CUpdateDlg::LastConnectFailure() const {
    std::lock_guard<std::mutex> lock(transferMutex_);
    return lastConnectFailure_;
}

int CUpdateDlg::GetBarPosition(PatchBar bar) {
    return barPosition_.at(static_cast<int>(bar));
}

int CUpdateDlg::GetBarPercent(PatchBar bar) {
    const int i = static_cast<int>(bar);
    return ProgressPercent(barPosition_.at(i), barRange_.at(i));
}

// ---------------------------------------------------------------------------------------------
// Views

void CUpdateDlg::ShowProgressView() {
    window_->SetBackgroundBitmap(skin::kProgressViewBackground);
    for (int id : kBottomButtons) window_->ShowControl(id, false);
    MoveNewsView(skin::kProgressViewNews);
    for (int i = 0; i < kServerEntryCount; ++i)
        window_->ShowControl(ControlId::FirstServer + i, false);

    std::string name;
    const int selected = g_State.SelectedServer;
    if (selected >= 0 && selected < kServerEntryCount)
        name = FieldText(g_State.ServerEntries[selected].Name,
                         sizeof(g_State.ServerEntries[selected].Name));
    if (name.empty()) name = kProductTitleName;
    const std::string& codePage = environment_.Settings.CodePage;
    SetTitleText(EncodeFromUtf8("\xE3\x80\x8E", codePage) + name +
                 EncodeFromUtf8("\xE3\x80\x8F", codePage));

    g_State.ProgressVisible = 1;
    RefreshWindow();
}

void CUpdateDlg::ShowServerView() {
    window_->SetBackgroundBitmap(skin::kServerViewBackground);
    for (int id : kBottomButtons) window_->ShowControl(id, true);
    MoveNewsView(skin::kServerViewNews);
    for (int id : {ControlId::Option, ControlId::Connect, ControlId::CloseBig})
        window_->ShowControl(id, false);
    for (int i = 0; i < kServerEntryCount; ++i) {
        const ServerEntry& entry = g_State.ServerEntries[i];
        const int id = ControlId::FirstServer + i;
        window_->SetButtonCaption(id, FieldText(entry.Name, sizeof(entry.Name)), 6, 12, 0x000000);
        window_->EnableControl(id, entry.Port != 0);
        window_->ShowControl(id, true);
    }
    g_State.ProgressVisible = 0;
    RefreshWindow();
}

void CUpdateDlg::OnConnectReady() {
    if (PostedFromWorker([this] { OnConnectReady(); })) return;
    bool first = false;
    {
        std::lock_guard<std::mutex> lock(connectFlagsMutex_);
        first = connected_ == 0;
        connected_ = 1;
        connectRequest_ = 0;
        readyToStart_ = 1;
    }
    SetStatusText(kMsgChooseServer);
    {
        std::lock_guard<std::mutex> lock(transferMutex_);
        transfer_ = TransferProgress{};
    }
    if (first) LogEvent("ready: client version " + engine_.CurrentVersion.ConfigText());
    UpdateProgressText();
    ShowServerView();
    g_State.ServerListReceived = 1;
    if (observer_.Ready) observer_.Ready();
}

void CUpdateDlg::ResetToConnect() {
    connected_ = 0;
    connectRequest_ = 1;
    SetStatusText(kMsgConnecting);
    HideStartButton();
}

void CUpdateDlg::ShowStartButton() {
    if (PostedFromWorker([this] { ShowStartButton(); })) return;
    window_->ShowControl(ControlId::Connect, true);
    window_->EnableControl(ControlId::Connect, true);
}

void CUpdateDlg::EnableStartButton() {
    window_->EnableControl(ControlId::Connect, true);
}

void CUpdateDlg::HideStartButton() {
    if (PostedFromWorker([this] { HideStartButton(); })) return;
    window_->ShowControl(ControlId::Connect, false);
    window_->EnableControl(ControlId::Connect, false);
}

void CUpdateDlg::ShowAndEnableStartButton() {
    ShowStartButton();
}

void CUpdateDlg::OnServerButton(int index) {
    if (index < 0 || index >= kServerEntryCount) return;
    g_State.SelectedServer = index;
    if (g_State.ServerEntries[index].Port == 0) return;
    PlayClick();
    ShowProgressView();
    for (int id : {ControlId::Option, ControlId::Connect, ControlId::CloseBig}) {
        window_->ShowControl(id, true);
        window_->EnableControl(id, true);
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void CUpdateDlg::PlayClick() {
    window_->PlaySound(kClickSound);
}

bool CUpdateDlg::PreTranslateKeyDown(int keyCode) const {
    return keyCode == 27;
}

void CUpdateDlg::OnCommand(int controlId) {
    if (controlId >= ControlId::FirstServer &&
        controlId < ControlId::FirstServer + kServerEntryCount) {
        OnServerButton(controlId - ControlId::FirstServer);
        return;
    }
    switch (controlId) {
        case ControlId::Link2:
        case ControlId::Link4:
            PlayClick();
            window_->OpenLink(Text(kMsgHomePageLink));
            break;
        case ControlId::Link1:
            PlayClick();
            window_->OpenLink(Text(kMsgAccountLink));
            break;
        case ControlId::Link3:
            PlayClick();
            window_->OpenLink(Text(kMsgSupportLink));
            break;
        case ControlId::Option:
            PlayClick();
            window_->RunOptionsDialog(ClientVersion());
            break;
        case ControlId::CloseBig:
            PlayClick();
            ShowServerView();
            break;
        case ControlId::Connect:
            StartGame();
            break;
        case ControlId::Exit:
        case ControlId::SmallClose:
            OnExitButton();
            break;
        default:
            break;
    }
}

void CUpdateDlg::OnExitButton() {
    PlayClick();
    // With a transfer running, the press only stops it.
    if (!StopTransferAndDisconnect()) OnClose();
}

bool CUpdateDlg::StopTransferAndDisconnect() {
    const bool transferring = StopTransfer() != 1;
    // This handler runs inside the transfer's pumping: the loop sees the flag when control
    // returns to it, and the window goes back to connecting.
    StopTransfer() = 1;
    CloseConnections();
    if (transferring) ResetToConnect();
    return transferring;
}

void CUpdateDlg::CloseConnections() {
    services_.Connection->CloseConnection();
    patches_->CloseFtp();
}

void CUpdateDlg::OnClose() {
    if (closing_.exchange(true)) return;
    LogEvent("window closed");
    patches_->CloseFtp();
    patches_->StopHttp();
    StopConnectThread();
    window_->CloseWindow();
}

void CUpdateDlg::ShowMessageBox(const std::string& text, const std::string& caption,
                                MessageBoxIcon icon) {
    // From a worker the box is posted, not waited for: the GUI thread may be joining it.
    if (PostedFromWorker([this, text, caption, icon] { ShowMessageBox(text, caption, icon); }))
        return;
    LogEvent("message box " + ForLog(caption) + ": " + ForLog(text));
    window_->ShowMessageBox(text, caption, icon);
}

void CUpdateDlg::ShowFormattedMessage(const std::string& text) {
    ShowMessageBox(text, Text(kMsgProductCaption), MessageBoxIcon::None);
}

std::string CUpdateDlg::MessageText(int messageNumber) {
    return Text(messageNumber);
}

void CUpdateDlg::CloseMainWindow() {
    if (PostedFromWorker([this] { CloseMainWindow(); })) return;
    OnClose();
}

void CUpdateDlg::CloseConnectServerConnection() {
    if (PostedFromWorker([this] { CloseConnectServerConnection(); })) return;
    services_.Connection->CloseConnection();
}

bool CUpdateDlg::PumpOneEvent() {
    return window_->PumpOneEvent();
}

std::array<std::uint8_t, 3> CUpdateDlg::ClientVersion() const {
    const VersionNumber& version = engine_.CurrentVersion;
    return {version.Major, version.Minor, version.Build};
}

void CUpdateDlg::SetHttpPatchServer(const PatchServerInfo& codedInfo) {
    PatchServerInfo info = codedInfo;
    info.Decode();
    LogEvent("patch server http://" + info.HostText() + "/ version list " + info.VersionFileText());
    patches_->SetHttpServer(PatchServerOf(codedInfo));
}

void CUpdateDlg::OnGreeting() {
    LogEvent("connect server " + ConnectTarget() + " greeted");
    {
        std::lock_guard<std::mutex> lock(sleepMutex_);
        greeted_ = true;
    }
    sleepWake_.notify_all();
    if (observer_.Greeted) observer_.Greeted();
}

std::string CUpdateDlg::ConnectTarget() const {
    return std::string(g_State.ServerAddress,
                       strnlen(g_State.ServerAddress, sizeof g_State.ServerAddress)) +
           ":" + std::to_string(g_State.ServerPort);
}

bool CUpdateDlg::StartHttpPatch() {
    engine_.Launch.Mode = static_cast<LaunchModeValue>(g_State.LaunchMode);
    const bool started = patches_->StartHttp([this] { OnHttpPatchEnded(); });
    if (!started && observer_.PatchFailed) observer_.PatchFailed();
    return started;
}

bool CUpdateDlg::PatchSessionActive() const {
    return ftpSessionRunning_ || patches_->HttpRunning();
}

bool CUpdateDlg::RunFtpPatch(const PatchServerInfo& info) {
    struct SessionMark {
        bool& Running;
        explicit SessionMark(bool& running) : Running(running) { Running = true; }
        ~SessionMark() { Running = false; }
    } mark(ftpSessionRunning_);
    // The connect server's reply may have turned a given-version run into a normal one.
    engine_.Launch.Mode = static_cast<LaunchModeValue>(g_State.LaunchMode);
    LogEvent("patch server ftp://" + info.UserText() + "@" + info.HostText() + ":" +
             std::to_string(info.Port) + "/ version list " + info.VersionFileText());
    const bool current = patches_->RunFtp(PatchServerOf(info));
    if (!current && observer_.PatchFailed) observer_.PatchFailed();
    return current;
}

void CUpdateDlg::ShowStopMessage(int messageNumber) {
    window_->ShowMessageBox(Text(messageNumber), environment_.Settings.ProductName,
                            MessageBoxIcon::Stop);
}
