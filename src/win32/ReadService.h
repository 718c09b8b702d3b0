// Background reads of http:// and https:// addresses with WinINet, one worker thread per read.
#pragma once

#include "Config.h"
#include "platform/ReadService.h"
#include "win32/Thread.h"
#include "win32/UiTask.h"
#include "win32/UniqueHandle.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace varnek::win32 {

// Each read runs on a thread of its own, bypassing every cache. The worker never calls an
// owner: it posts each notification as a task (UiTask.h) to the thread that made the service
// (the user-interface thread), and there a map from the read's id to its owner decides whether
// it is delivered. A cancelled or forgotten read stays in that map ownerless, so nothing more of
// it reaches anyone, and its file is closed at once; its worker closes its own internet handles
// when the call it is in returns (at the latest at the stall timeout: the handles are never
// closed under a call by another thread) and is joined when its last notice comes in.
//
// Notifications of a read, in order: progress 1 (finding resource), 2 (connecting), 11 (sending
// request), 4 (download started), 5 (BytesRead so far, after a block of up to BlockSize whenever
// the whole percentage of the total moved, or a quarter of a second passed where the total is
// unknown), 6 (download complete), then the completion. BytesMax is the Content-Length; for an
// answer without one it is 0 during the download and the final size in progress 6 and the
// completion. The completion's StatusCode is 6 for a good read and 0 for a failed one, with Status
// a short English reason: a non-2xx answer, no connection, a connection lost or a body shorter than
// its Content-Length, an answer over ReadRequest::maxBytes, no byte for the stall timeout, a
// target file that cannot be written, or the refusal of the read's check. A proxy's 407 (a login
// that WinINet could not give) says which proxy asked and for which schemes: "HTTP status 407:
// the proxy 10.0.0.1:8080 asks for a login (Basic); the program cannot log in to it: ...".
//
// Every request names the program, its version, the system's version and machine type and the
// build in its User-Agent ("VarnekIT/1.0.2 (Windows NT 10.0; x64; i686 build)"), and nothing
// about the user. It goes through the proxy of the user's settings (automatic configuration
// included) and keeps its connection alive: NTLM and Negotiate proxy logins, which WinINet
// answers with the user's logon, need the one connection for their handshake. When the last
// running read has ended, WinINet is told to take the connection settings afresh, which also
// lets Wine close the idle kept connection; Windows closes it after a minute idle.
//
// A file read creates (or empties) its target file when the answer begins, holds it unshared
// while it writes, writes no byte beyond ReadRequest::maxBytes, and has flushed it to the disk
// and closed it before its check runs (ReadRequest::check, on the worker) and its completion is
// delivered, or closed it before its drop returns. It never removes the file, whatever became
// of the read: the file belongs to the owner that named it, which keeps it or removes it.
//
// The service lives and dies on its user-interface thread; destroying it stops the reads still
// running, joins their threads (a call blocked on a silent server returns at the stall timeout)
// and delivers nothing more. The program itself never waits for that: it ends its process
// without destroying the service.
//
// The request goes through InternetConnectW and HttpOpenRequestW rather than InternetOpenUrlW,
// with the same flags: the stall timeout must be set on those handles, as Wine does not pass it
// down from the session handle.
class ReadService final : public IReadService {
public:
    // A read that receives nothing for this long fails.
    static constexpr std::chrono::milliseconds StallTimeout{ReadStallSeconds * 1000};
    // What a read asks WinINet for at a time. Each call costs as much as the copy of many
    // kilobytes: 256 MiB from the loopback server under Wine came in 0.7 to 0.9 s in 64 KiB
    // blocks and in 0.13 to 0.23 s in 1 MiB blocks (curl: about 0.3 s). A call returns once
    // the block is full or the answer ends, so progress comes a block at a time.
    static constexpr std::uint32_t BlockSize = 1024 * 1024;

    // Numbers of the AsyncReadError raised when a read cannot be started (Win32 error codes).
    static constexpr std::int32_t ErrorNotEnoughMemory = 8;        // no thread for the read
    static constexpr std::int32_t ErrorInvalidParameter = 87;      // bad type, no target file
    static constexpr std::int32_t ErrorInvalidUrl = 12005;         // empty or malformed address
    static constexpr std::int32_t ErrorUnrecognizedScheme = 12006; // not http:// or https://
    static constexpr std::int32_t ErrorModuleNotFound = 126;       // no internet library

    // Notices reach their owners through `tasks`, on the thread that made it.
    explicit ReadService(UiTasks& tasks, std::chrono::milliseconds stallTimeout = StallTimeout);
    ~ReadService() override;
    ReadService(const ReadService&) = delete;
    ReadService& operator=(const ReadService&) = delete;

    void AsyncRead(IAsyncReadOwner& owner, const ReadRequest& request) override;
    void CancelAsyncRead(IAsyncReadOwner& owner, std::string_view propertyName) override;
    void ForgetOwner(IAsyncReadOwner& owner) override;

    class Worker;

private:
    struct Read {
        IAsyncReadOwner* owner = nullptr; // null once the read is dropped
        std::string propertyName;
        std::unique_ptr<Worker> worker;
        Thread thread;
    };

    void Start(Read read);
    void OnNotice(std::uintptr_t id, const AsyncProperty& property, bool complete);
    void Drop(Read& read);

    UiTasks& tasks_;
    std::chrono::milliseconds stallTimeout_;
    std::map<std::uintptr_t, Read> reads_; // by their owner id in the task service
    bool connected_ = false; // a read went to the network since the last one of them ended
};

} // namespace varnek::win32
