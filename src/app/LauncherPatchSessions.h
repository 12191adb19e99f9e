#pragma once
// The launcher's FTP and HTTP patch sessions on one engine, set up from the deployment
// (transfer stall limit, HTTP scheme and certificate authorities).

#include "app/LauncherServices.h"
#include "patch/FtpPatchSession.h"
#include "patch/HttpPatchSession.h"
#include "platform/DeploymentSettings.h"

class LauncherPatchSessions : public PatchSessions {
public:
    LauncherPatchSessions(PatchEngine& engine, const DeploymentSettings& settings);

    bool RunFtp(const PatchServerAddress& server) override;
    void CloseFtp() override;
    void SetHttpServer(const PatchServerAddress& server) override;
    bool StartHttp(std::function<void()> onEnded) override;
    void StopHttp() override;
    bool HttpRunning() const override;

private:
    FtpPatchSession ftp_;
    HttpPatchSession http_;
};
