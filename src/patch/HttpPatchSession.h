#pragma once
// The HTTP patch session: every patch is packed ("list.inf" plus "up_list.zip" in a
// directory named by the version's label, beside the version list), fetched with plain URL
// downloads on a worker thread of its own.
//
// Threads. SetHttpPatchServer, StartHttpPatch and Stop run on the GUI thread. The worker
// runs HttpPatchThread and reaches the window only through PatchHost, whose implementation
// marshals to the GUI thread; it never pumps events. The owner calls Stop (the destructor
// does too) before the window goes away: it interrupts a download in progress and joins the
// worker, after which the session touches nothing of the window.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "patch/PatchEngine.h"

struct SignedDownload;

class HttpPatchSession {
public:
    explicit HttpPatchSession(PatchEngine& engine, int stallSeconds = 60);
    ~HttpPatchSession();
    HttpPatchSession(const HttpPatchSession&) = delete;
    HttpPatchSession& operator=(const HttpPatchSession&) = delete;

    // Keeps host, port, user, password and version file name in the engine. Port and account
    // are kept but not used: the URLs carry neither.
    void SetHttpPatchServer(const PatchServerAddress& server);
    // "http" (the default) or "https", and the certificate authorities to trust for https
    // (empty: the system's store). Set before StartHttpPatch.
    void SetTransport(const std::string& scheme, const std::filesystem::path& caFile);
    // Prepares the window and starts the worker; false when the version list's name is
    // unusable. `onEnded` runs on the worker thread once it has ended, by itself or stopped,
    // after everything it told the host: the owner learns of the end without polling.
    bool StartHttpPatch(std::function<void()> onEnded = {});
    // Interrupts and joins the worker; safe when none runs.
    void Stop();
    // Waits until the worker has ended by itself.
    void Wait();
    // True while the worker has not ended.
    bool Running() const { return running_.load() != 0; }

    // The worker's body (public so tests can run it on their own thread).
    void HttpPatchThread();
    // One patch: its list, its deletions, its archive, unpacked into the game directory.
    bool DownloadHttpPatch(const std::string& host, const std::string& label);

    // The bind-status progress rule: with a known maximum the file bar shows the
    // percentage; without one it creeps by one step per notification, from at least 2.
    // Downloads notify at most every Progress::kReportInterval, and once at their end.
    void OnProgress(std::uint64_t progress, std::uint64_t maximum);

    // The query value for the next URL: the millisecond tick count, made to differ from the
    // previous one so no cache can hand back an older copy of the same file.
    std::int32_t NextQueryValue();

private:
    // `resumable`: an interrupted download keeps its bytes for the next run (see HttpClient).
    // `signedFile`: what the signed manifest says the file is, checked as it arrives; a file
    // that differs leaves the verifier's Failure() set and downloadRefused_ true.
    bool Download(const std::string& url, const std::string& localPath, std::uint64_t maxBytes,
                  bool resumable = false, const SignedDownload* signedFile = nullptr);
    // With a verifier: the signed index before the version list, a version's manifest after
    // its list file (message 116 and the end of the session when either fails).
    bool FetchSignedIndex(const std::string& host);
    bool FetchManifest(const std::string& host, const std::string& label);
    bool Stopping() const { return stop_.load() != 0; }

    PatchEngine& engine_;
    std::string scheme_ = "http";
    std::filesystem::path caFile_;
    PatchHost& host_;
    int stallSeconds_;
    std::thread worker_;
    std::atomic<int> stop_{0};
    bool downloadRefused_ = false;
    std::atomic<int> running_{0};
    std::int64_t lastQuery_ = -1;
};
