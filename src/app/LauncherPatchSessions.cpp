#include "app/LauncherPatchSessions.h"

LauncherPatchSessions::LauncherPatchSessions(PatchEngine& engine,
                                             const DeploymentSettings& settings)
    : ftp_(engine, settings.TransferStallSeconds), http_(engine, settings.TransferStallSeconds) {
    http_.SetTransport(settings.HttpScheme, settings.CaFile);
}

bool LauncherPatchSessions::RunFtp(const PatchServerAddress& server) {
    // An HTTP session that has ended is joined first: it turned the engine's pumping off.
    if (!http_.Running()) http_.Wait();
    return ftp_.RunFtpPatch(server.Host, server.Port, server.User, server.Password,
                            server.VersionFile);
}

void LauncherPatchSessions::CloseFtp() {
    ftp_.CloseFtpConnection();
}

void LauncherPatchSessions::SetHttpServer(const PatchServerAddress& server) {
    http_.SetHttpPatchServer(server);
}

bool LauncherPatchSessions::StartHttp(std::function<void()> onEnded) {
    return http_.StartHttpPatch(std::move(onEnded));
}

void LauncherPatchSessions::StopHttp() {
    http_.Stop();
}

bool LauncherPatchSessions::HttpRunning() const {
    return http_.Running();
}
