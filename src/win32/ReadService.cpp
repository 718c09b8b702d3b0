#include "win32/ReadService.h"

#include "Config.h"
#include "platform/Text.h"
#include "win32/Barrier.h"
#include "win32/SystemLibrary.h"
#include "win32/Text.h"
#include "win32/UiTask.h"
#include "win32/UniqueHandle.h"

#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex> // std::lock_guard
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace varnek::win32 {

namespace {

// Keep-alive: NTLM and Negotiate, the proxy logins of Windows networks, are a handshake over one
// connection, which WinINet answers with the user's logon by itself only on a kept connection.
constexpr DWORD ReadFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                            INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                            INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_KEEP_CONNECTION;

void CALLBACK GuardedStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                    LPVOID information, DWORD length);

// WinINet, loaded on the first read: the program starts, and rests between checks, without it
// and the libraries it brings.
struct WinInet {
#define VARNEK_WININET_FUNCTIONS(X)                                                                \
    X(HttpOpenRequestW)                                                                            \
    X(HttpQueryInfoW)                                                                              \
    X(HttpSendRequestW)                                                                            \
    X(InternetCloseHandle)                                                                         \
    X(InternetConnectW)                                                                            \
    X(InternetCrackUrlW)                                                                           \
    X(InternetOpenW)                                                                               \
    X(InternetQueryOptionW)                                                                        \
    X(InternetReadFile)                                                                            \
    X(InternetSetOptionW)                                                                          \
    X(InternetSetStatusCallbackW)
#define VARNEK_DECLARE(name) decltype(&::name) name = nullptr;
    VARNEK_WININET_FUNCTIONS(VARNEK_DECLARE)
#undef VARNEK_DECLARE
    bool loaded = false;
};

// The functions, loaded on the first call (made by AsyncRead on the UI thread, before any
// worker starts; the workers run only once it found them all).
const WinInet& Net() {
    static const WinInet functions = [] {
        WinInet f;
        f.loaded = true;
#define VARNEK_LOAD(name)                                                                          \
    f.name = SystemFunction<decltype(&::name)>(L"wininet.dll", #name);                             \
    f.loaded = f.loaded && f.name != nullptr;
        VARNEK_WININET_FUNCTIONS(VARNEK_LOAD)
#undef VARNEK_LOAD
        return f;
    }();
    return functions;
}
#undef VARNEK_WININET_FUNCTIONS

// The machine type of the system itself (not the one this build emulates there): the native
// machine where Windows says it (Windows 10 1709 and later, which also run x86 and x64 programs
// on ARM64), else the native processor.
const wchar_t* NativeMachine() {
    using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    USHORT process = 0;
    USHORT native = 0;
    const auto isWow64Process2 =
        SystemFunction<IsWow64Process2Function>(L"kernel32.dll", "IsWow64Process2");
    if (!isWow64Process2 || !isWow64Process2(GetCurrentProcess(), &process, &native)) {
        SYSTEM_INFO system{};
        GetNativeSystemInfo(&system);
        native = system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64   ? 0x8664
                 : system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_ARM64 ? 0xAA64
                                                                                 : 0x14C;
    }
    return native == 0x8664 ? L"x64" : native == 0xAA64 ? L"ARM64" : L"x86";
}

// "VarnekIT/1.0.2 (Windows NT 10.0; x64; i686 build)": the program, its version, the system's
// version as it really is (RtlGetVersion: GetVersionEx answers what the manifest or a
// compatibility setting lets it) and machine type, and this build's. Nothing about the user.
// The web server's access log then shows which versions run where.
const std::wstring& UserAgent() {
    static const std::wstring agent = [] {
        using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
        OSVERSIONINFOW version{};
        version.dwOSVersionInfoSize = sizeof version;
        const auto rtlGetVersion =
            SystemFunction<RtlGetVersionFunction>(L"ntdll.dll", "RtlGetVersion");
        if (!rtlGetVersion || rtlGetVersion(&version) != 0) {
            version.dwMajorVersion = version.dwMinorVersion = 0;
        }
#ifdef _WIN64
        constexpr const wchar_t* Build = L"x86_64";
#else
        constexpr const wchar_t* Build = L"i686";
#endif
        return L"VarnekIT/" + Wide(VersionText) + L" (Windows NT " +
               Wide(Decimal(version.dwMajorVersion) + "." + Decimal(version.dwMinorVersion)) +
               L"; " + NativeMachine() + L"; " + Build + L" build)";
    }();
    return agent;
}

// A header of the answer (the next one of that name from `index` on, which moves past it).
std::optional<std::wstring> Header(HINTERNET request, DWORD info, DWORD& index) {
    std::wstring value(256, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        DWORD at = index;
        if (Net().HttpQueryInfoW(request, info, value.data(), &size, &at)) {
            index = at;
            value.resize(size / sizeof(wchar_t));
            return value;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > 65536) {
            return std::nullopt;
        }
        value.resize(size / sizeof(wchar_t) + 1);
    }
}

// Letters, digits and a few signs of a text from outside, at most `limit` of them: what is
// safe to put into the log.
std::string Printable(const std::wstring& text, std::size_t limit) {
    std::string shown;
    for (const wchar_t c : text) {
        if (shown.size() == limit) {
            break;
        }
        if ((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') ||
            std::wstring_view(L".:-_[]/").find(c) != std::wstring_view::npos) {
            shown.push_back(static_cast<char>(c));
        }
    }
    return shown;
}

// WinINet keeps the connection of an answer read to its end for a next request to that server
// (Windows for a minute, its KeepAliveTimeout). After a check the program sends none for hours,
// so once no read runs it tells WinINet to take the connection settings afresh: the next check,
// perhaps from another network, connects as the user's settings are then. Wine also closes its
// idle kept connections then, and its thread that watches them ends.
void ForgetIdleConnections() {
    Net().InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
}

// The proxy that WinINet took for `scheme` from the session's settings ("host:port" entries,
// or "http=host:port" ones per scheme); empty when there is none to name (an automatic
// configuration chose it, say).
std::string ProxyOf(HINTERNET session, const std::wstring& scheme) {
    DWORD size = 0;
    Net().InternetQueryOptionW(session, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size < sizeof(INTERNET_PROXY_INFO) || size > 65536) {
        return {};
    }
    std::vector<std::uint8_t> buffer(size);
    const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
    if (!Net().InternetQueryOptionW(session, INTERNET_OPTION_PROXY, buffer.data(), &size) ||
        info->dwAccessType != INTERNET_OPEN_TYPE_PROXY || !info->lpszProxy) {
        return {};
    }
    std::wstring any;
    std::wstring list = reinterpret_cast<const wchar_t*>(info->lpszProxy);
    for (wchar_t& c : list) {
        c = c == L';' || c == L'\t' ? L' ' : c;
    }
    for (std::size_t at = 0; at < list.size();) {
        const std::size_t end = std::min(list.find(L' ', at), list.size());
        const std::wstring entry = list.substr(at, end - at);
        at = end + 1;
        const std::size_t equals = entry.find(L'=');
        if (equals == std::wstring::npos) {
            any = any.empty() ? entry : any;
        } else if (entry.compare(0, equals, scheme) == 0) {
            return Printable(entry.substr(equals + 1), 100);
        }
    }
    return Printable(any, 100);
}

} // namespace

void handle_kind::Internet::Release(void* handle) {
    Net().InternetCloseHandle(handle);
}

// One read on its own thread. What it shares with the service, under its mutex: the stop flag
// and its file, which the service closes when it drops the read. Its internet handles are its
// own: only the worker uses them and closes them, so no handle value is ever used after
// another thread closed it (WinINet gives a closed handle's value to the next handle at once).
class ReadService::Worker {
public:
    Worker(ReadService& service, std::uintptr_t id, ReadRequest request, DWORD stallTimeoutMs)
        : service_(service), id_(id), request_(std::move(request)), timeoutMs_(stallTimeoutMs) {}

    // Stops the read: its file closes at once, so whoever owns the file can remove it now;
    // the call the worker is in returns at the latest at the stall timeout, and the worker
    // then closes its handles and ends. With `serviceGoing` the worker also stops waiting for
    // room in the queue for its last message.
    void Stop(bool serviceGoing) {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        closing_ = closing_ || serviceGoing;
        file_.reset();
    }

    std::uintptr_t Id() const { return id_; }
    // The completion of this read when it ends for `why` before it could post its own.
    AsyncProperty Failed(std::string why) const {
        AsyncProperty failed = Property(vbAsyncStatusCodeError);
        failed.Status = std::move(why);
        return failed;
    }

    // The UI thread has taken the progress notice in its queue.
    void ProgressTaken() { progressQueued_ = false; }

    void Run() {
        AsyncProperty result = Property(vbAsyncStatusCodeError);
        std::string failure = Fetch(result);
        // What arrived before a failure is told, even when its progress was held back.
        if (!failure.empty() && result.BytesRead > reportedBytes_) {
            Notify(vbAsyncStatusCodeDownloadingData, result.BytesRead, result.BytesMax);
        }
        if (const std::string unsaved = Close(); failure.empty()) {
            failure = unsaved;
        }
        CloseHandles();
        if (failure.empty() && request_.check && !Stopped()) {
            // The whole file, on the disk and closed: its check decides before anyone hears of
            // the end.
            result.FileName = request_.targetFile;
            FileVerdict verdict = request_.check(request_.targetFile);
            result.Checked = true;
            result.CheckNotes = std::move(verdict.notes);
            result.RefusedForGood = verdict.lasting && !verdict.refusal.empty();
            failure = std::move(verdict.refusal);
        }
        if (failure.empty()) {
            result.StatusCode = vbAsyncStatusCodeEndDownloadData;
        } else {
            result.StatusCode = vbAsyncStatusCodeError;
            result.Status = failure;
            result.Value.clear();
            result.FileName.clear();
        }
        // The last notice of a read: the service joins this thread when it arrives, so it must
        // get there (the queue holds 10000 messages; wait while it is full, unless the service
        // is going).
        PostEnd(std::move(result), [this] { return !Closing(); });
    }

    // The end of the read, for the service to deliver on its thread.
    bool PostEnd(AsyncProperty property, const std::function<bool()>& keepTrying) const {
        return service_.tasks_.Post(
            id_,
            [&service = service_, id = id_, property = std::move(property)] {
                service.OnNotice(id, property, true);
            },
            keepTrying);
    }

    static void CALLBACK StatusCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID, DWORD) {
        if (context == 0) {
            return;
        }
        auto* worker = reinterpret_cast<Worker*>(context);
        if (status == INTERNET_STATUS_CONNECTING_TO_SERVER) {
            worker->Reach(vbAsyncStatusCodeConnecting);
        } else if (status == INTERNET_STATUS_SENDING_REQUEST) {
            worker->Reach(vbAsyncStatusCodeSendingRequest);
        }
    }

private:
    // Empty on success, else why the read failed.
    std::string Fetch(AsyncProperty& result) {
        Reach(vbAsyncStatusCodeFindingResource);
        const std::wstring url = Wide(request_.url);
        wchar_t host[INTERNET_MAX_HOST_NAME_LENGTH] = {};
        std::wstring path(url.size() + 1, L'\0');
        URL_COMPONENTSW parts{};
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = host;
        parts.dwHostNameLength = INTERNET_MAX_HOST_NAME_LENGTH;
        parts.lpszUrlPath = path.data();
        parts.dwUrlPathLength = static_cast<DWORD>(path.size());
        if (!Net().InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
            return "invalid address";
        }
        path.resize(parts.dwUrlPathLength);

        // The proxy as the user's settings give it, automatic configuration (PAC, WPAD) included.
        session_.reset(Net().InternetOpenW(UserAgent().c_str(), INTERNET_OPEN_TYPE_PRECONFIG,
                                           nullptr, nullptr, 0));
        const HINTERNET session = session_.get();
        if (Stopped()) {
            return "cancelled";
        }
        if (!session) {
            return "cannot open the internet library";
        }
        Net().InternetSetStatusCallbackW(session, &GuardedStatusCallback);
        const auto context = reinterpret_cast<DWORD_PTR>(this);
        // The timeouts are set on the handles that do the work: Wine does not pass them down
        // from the session handle.
        connect_.reset(Net().InternetConnectW(session, host, parts.nPort, nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, context));
        const HINTERNET connection = connect_.get();
        if (Stopped()) {
            return "cancelled";
        }
        if (!connection) {
            return "cannot connect";
        }
        SetTimeouts(connection);
        const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
        const wchar_t* accept[] = {L"*/*", nullptr};
        request_handle_.reset(
            Net().HttpOpenRequestW(connection, L"GET", path.c_str(), nullptr, nullptr, accept,
                                   ReadFlags | (secure ? INTERNET_FLAG_SECURE : 0), context));
        const HINTERNET request = request_handle_.get();
        if (Stopped()) {
            return "cancelled";
        }
        if (!request) {
            return "cannot connect";
        }
        SetTimeouts(request);
        const ULONGLONG sent = GetTickCount64();
        if (!Net().HttpSendRequestW(request, nullptr, 0, nullptr, 0)) {
            return Failure("cannot connect", sent);
        }
        if (Stopped()) {
            return "cancelled";
        }
        Reach(vbAsyncStatusCodeSendingRequest);

        DWORD status = 0;
        DWORD size = sizeof status;
        if (!Net().HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                                  &size, nullptr)) {
            return "no HTTP answer";
        }
        if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
            return ProxyLoginFailure(request, secure ? L"https" : L"http");
        }
        if (status < 200 || status > 299) {
            return "HTTP status " + std::to_string(status);
        }
        DWORD length = 0;
        size = sizeof length;
        const bool known =
            Net().HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                                 &length, &size, nullptr) != FALSE;
        if (known && length > 0x7FFFFFFFu) {
            return "answer too large";
        }
        const bool toFile = request_.asyncType == vbAsyncTypeFile;
        const auto limit = static_cast<std::uint64_t>(request_.maxBytes);
        if (limit > 0 && known && length > limit) {
            return "answer larger than " + std::to_string(limit) + " bytes";
        }
        if (toFile) {
            if (const std::string failure = OpenTarget(); !failure.empty()) {
                return failure;
            }
            result.FileName = request_.targetFile;
        }
        result.BytesMax = known ? static_cast<std::int32_t>(length) : 0;
        Notify(vbAsyncStatusCodeBeginDownloadData, 0, result.BytesMax);

        std::vector<std::uint8_t> block(ReadService::BlockSize);
        std::uint64_t total = 0;
        for (;;) {
            if (Stopped()) {
                return "cancelled";
            }
            // A whole block, or what is left: WinINet fills it straight from the connection,
            // which is several times faster than taking its small buffer's worth at a time.
            DWORD got = 0;
            const ULONGLONG waited = GetTickCount64();
            if (!Net().InternetReadFile(request, block.data(), ReadService::BlockSize, &got)) {
                return Failure("connection lost", waited);
            }
            if (got == 0) {
                break;
            }
            total += got;
            if (total > 0x7FFFFFFFu) {
                return "answer too large";
            }
            if (limit > 0 && total > limit) {
                return "answer larger than " + std::to_string(limit) + " bytes";
            }
            if (toFile) {
                if (const std::string failure = Write(block.data(), got); !failure.empty()) {
                    return failure;
                }
            } else {
                result.Value.insert(result.Value.end(), block.begin(), block.begin() + got);
            }
            result.BytesRead = static_cast<std::int32_t>(total);
            Progress(result.BytesRead, result.BytesMax);
        }
        if (known && total != length) {
            return "answer shorter than announced";
        }
        if (!known) {
            result.BytesMax = result.BytesRead;
        }
        Notify(vbAsyncStatusCodeEndDownloadData, result.BytesRead, result.BytesMax);
        return {};
    }

    // A proxy asked for a login that WinINet could not give: which proxy, and for which
    // schemes, so that a technician knows what to change. NTLM and Negotiate WinINet answers
    // with the user's logon by itself; when one of them is offered and still refused, that
    // logon was not enough.
    std::string ProxyLoginFailure(HINTERNET request, const std::wstring& scheme) {
        std::string schemes;
        bool windowsLogin = false;
        DWORD index = 0;
        for (int count = 0; count < 8; ++count) {
            const std::optional<std::wstring> offer =
                Header(request, HTTP_QUERY_PROXY_AUTHENTICATE, index);
            if (!offer) {
                break;
            }
            const std::string name = Printable(offer->substr(0, offer->find(L' ')), 20);
            if (!name.empty() &&
                (", " + schemes + ",").find(", " + name + ",") == std::string::npos) {
                schemes += (schemes.empty() ? "" : ", ") + name;
            }
            windowsLogin = windowsLogin || _stricmp(name.c_str(), "NTLM") == 0 ||
                           _stricmp(name.c_str(), "Negotiate") == 0;
        }
        const std::string proxy = ProxyOf(session_.get(), scheme);
        const std::string asks =
            "HTTP status 407: " + (proxy.empty() ? std::string("a proxy") : "the proxy " + proxy) +
            " asks for a login (" + (schemes.empty() ? "no scheme named" : schemes) + ")";
        return windowsLogin ? asks + " and did not take this user's Windows logon: allow the "
                                     "support server's address without login, or give this "
                                     "user access"
                            : asks + "; the program cannot log in to it: allow the support "
                                     "server's address without login, or use NTLM";
    }

    // Creates (or empties) the target file, unless the read was stopped meanwhile. It is held
    // without sharing: nobody removes or reads a file that is half written.
    std::string OpenTarget() {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            return "cancelled";
        }
        file_.reset(CreateFileW(Wide(request_.targetFile).c_str(), GENERIC_WRITE, 0, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_ ? std::string() : "cannot write " + request_.targetFile;
    }

    // Writes a block under the lock, so a stop closes the file between blocks, never in one.
    std::string Write(const std::uint8_t* data, DWORD size) {
        std::lock_guard lock(mutex_);
        if (stopped_ || !file_) {
            return "cancelled";
        }
        DWORD written = 0;
        if (!::WriteFile(file_.get(), data, size, &written, nullptr) || written != size) {
            return "cannot write " + request_.targetFile;
        }
        return {};
    }

    // Why the WinINet call that just failed, after waiting since `since`, did: it was stopped
    // (its handles closed under it), or it timed out (Wine reports a stall as a socket timeout,
    // 10060, or before the headers as an aborted connection), or else what the error says.
    std::string Failure(const char* what, ULONGLONG since) {
        const DWORD error = GetLastError();
        if (Stopped()) {
            return "cancelled";
        }
        if (error == ERROR_INTERNET_TIMEOUT || error == 10060 ||
            GetTickCount64() - since >= timeoutMs_ - timeoutMs_ / 10) {
            return "timed out";
        }
        return std::string(what) + " (error " + std::to_string(error) + ")";
    }

    // Puts the file on the disk and closes it (unless a stop closed it first); empty, or why
    // the data is not safe.
    std::string Close() {
        std::lock_guard lock(mutex_);
        if (!file_) {
            return {};
        }
        const bool saved = FlushFileBuffers(file_.get()) && CloseHandle(file_.release());
        file_.reset();
        return saved ? std::string() : "cannot write " + request_.targetFile;
    }

    // The worker's own handles, the newest first.
    void CloseHandles() {
        request_handle_.reset();
        connect_.reset();
        session_.reset();
    }

    void SetTimeouts(HINTERNET handle) {
        for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                             INTERNET_OPTION_SEND_TIMEOUT}) {
            Net().InternetSetOptionW(handle, option, &timeoutMs_, sizeof timeoutMs_);
        }
    }

    bool Stopped() {
        std::lock_guard lock(mutex_);
        return stopped_;
    }
    bool Closing() {
        std::lock_guard lock(mutex_);
        return closing_;
    }

    AsyncProperty Property(std::int32_t code) const {
        AsyncProperty property;
        property.PropertyName = request_.propertyName;
        property.AsyncType = request_.asyncType;
        property.StatusCode = code;
        return property;
    }

    // Progress while data arrives, only when there is something new to show: the whole
    // percentage moved (nothing shows finer), or, for an answer of unknown size, a quarter of
    // a second passed. A notice costs a round through the window system on both threads; one
    // per block made large downloads markedly slower. And one notice at a time in the UI
    // thread's queue, so a fast read never waits for the window; the next one carries the
    // count of then.
    void Progress(std::int32_t bytesRead, std::int32_t bytesMax) {
        const ULONGLONG now = GetTickCount64();
        const std::int64_t step = bytesMax > 0 ? std::int64_t{bytesRead} * 100 / bytesMax : -1;
        if (bytesMax > 0 ? step == shownStep_ : now - shownAt_ < 250) {
            return;
        }
        if (progressQueued_.exchange(true)) {
            return;
        }
        if (!Notify(vbAsyncStatusCodeDownloadingData, bytesRead, bytesMax)) {
            progressQueued_ = false;
            return;
        }
        shownStep_ = step;
        shownAt_ = now;
    }

    // A notice; dropped when the queue is full (the completion that follows says it all).
    bool Notify(std::int32_t code, std::int32_t bytesRead, std::int32_t bytesMax) {
        AsyncProperty property = Property(code);
        property.BytesRead = bytesRead;
        property.BytesMax = bytesMax;
        if (!service_.tasks_.Post(
                id_,
                [&service = service_, id = id_, property = std::move(property)] {
                    service.OnNotice(id, property, false);
                },
                [] { return false; })) {
            return false;
        }
        if (code == vbAsyncStatusCodeDownloadingData) {
            reportedBytes_ = bytesRead;
        }
        return true;
    }

    // The stages before the answer, each reported once and in order, whether WinINet tells of
    // them or not.
    void Reach(std::int32_t stage) {
        static constexpr std::int32_t Stages[] = {vbAsyncStatusCodeFindingResource,
                                                  vbAsyncStatusCodeConnecting,
                                                  vbAsyncStatusCodeSendingRequest};
        for (int i = 0; i < 3; ++i) {
            if (i >= reached_) {
                Notify(Stages[i], 0, 0);
                reached_ = i + 1;
            }
            if (Stages[i] == stage) {
                break;
            }
        }
    }

    ReadService& service_;
    const std::uintptr_t id_;
    const ReadRequest request_;
    DWORD timeoutMs_;
    int reached_ = 0;                // stages reported so far (worker thread only)
    std::int32_t reportedBytes_ = 0; // the count of the last progress notice (worker only)
    std::int64_t shownStep_ = -1;    // its whole percentage (worker only)
    ULONGLONG shownAt_ = 0;          // and when it was posted (worker only)
    std::atomic<bool> progressQueued_{false};
    UniqueInternet session_; // the worker's own (see the class)
    UniqueInternet connect_;
    UniqueInternet request_handle_;
    Mutex mutex_; // guards the three below
    bool stopped_ = false;
    bool closing_ = false; // the service is going away
    UniqueHandle file_;
};

namespace {

// WinINet calls back on the worker's thread, from its own frames.
void CALLBACK GuardedStatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                    LPVOID information, DWORD length) {
    Barrier("the internet status callback", [&] {
        ReadService::Worker::StatusCallback(handle, context, status, information, length);
    });
}

} // namespace

ReadService::ReadService(UiTasks& tasks, std::chrono::milliseconds stallTimeout)
    : tasks_(tasks), stallTimeout_(stallTimeout) {}

ReadService::~ReadService() {
    for (auto& [id, read] : reads_) {
        read.worker->Stop(true);
    }
    for (auto& [id, read] : reads_) {
        read.thread.Join();
        tasks_.Forget(id); // what it posted is not delivered
    }
}

void ReadService::AsyncRead(IAsyncReadOwner& owner, const ReadRequest& request) {
    if (request.asyncType != vbAsyncTypeFile && request.asyncType != vbAsyncTypeByteArray) {
        throw AsyncReadError(ErrorInvalidParameter, "unsupported read type");
    }
    if (request.asyncType == vbAsyncTypeFile && request.targetFile.empty()) {
        throw AsyncReadError(ErrorInvalidParameter, "no target file");
    }
    if (!Net().loaded) {
        throw AsyncReadError(ErrorModuleNotFound, "the internet library cannot be loaded");
    }
    const std::wstring url = Wide(request.url);
    URL_COMPONENTSW parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = 1;
    if (url.empty() || !Net().InternetCrackUrlW(url.c_str(), 0, 0, &parts)) {
        throw AsyncReadError(ErrorInvalidUrl, "invalid address: " + request.url);
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        throw AsyncReadError(ErrorUnrecognizedScheme, "not an http or https address");
    }
    if (parts.dwHostNameLength == 0) {
        throw AsyncReadError(ErrorInvalidUrl, "no host in " + request.url);
    }

    Read read;
    read.owner = &owner;
    read.propertyName = request.propertyName;
    read.worker = std::make_unique<Worker>(*this, tasks_.NewOwner(), request,
                                           static_cast<DWORD>(stallTimeout_.count()));
    Start(std::move(read));
    connected_ = true;
}

void ReadService::Start(Read read) {
    const std::uintptr_t id = read.worker->Id();
    AsyncProperty failed = read.worker->Failed("program error");
    // A worker that met a program error ends with a failed completion, so that it is joined
    // and its owner learns of its end.
    if (!read.thread.Start([worker = read.worker.get(), failed = std::move(failed)] {
            Barrier(
                "the read worker", [worker] { worker->Run(); },
                [&] { worker->PostEnd(failed, {}); });
        })) {
        throw AsyncReadError(ErrorNotEnoughMemory, "cannot start a thread for the read");
    }
    reads_.emplace(id, std::move(read));
}

void ReadService::CancelAsyncRead(IAsyncReadOwner& owner, std::string_view propertyName) {
    for (auto& [id, read] : reads_) {
        if (read.owner == &owner && read.propertyName == propertyName) {
            Drop(read);
        }
    }
}

void ReadService::ForgetOwner(IAsyncReadOwner& owner) {
    for (auto& [id, read] : reads_) {
        if (read.owner == &owner) {
            Drop(read);
        }
    }
}

// The read stays in the map, ownerless, until its worker's last message lets it be joined;
// its file is closed now, its connection when its worker's call returns.
void ReadService::Drop(Read& read) {
    read.owner = nullptr;
    read.worker->Stop(false);
}

void ReadService::OnNotice(std::uintptr_t id, const AsyncProperty& property, bool complete) {
    const auto found = reads_.find(id);
    if (found == reads_.end()) {
        return;
    }
    IAsyncReadOwner* owner = found->second.owner;
    if (complete) {
        found->second.thread.Join(); // its last act was posting this
        reads_.erase(found);
        tasks_.Forget(id);
        if (reads_.empty() && std::exchange(connected_, false)) {
            ForgetIdleConnections();
        }
    } else if (property.StatusCode == vbAsyncStatusCodeDownloadingData) {
        found->second.worker->ProgressTaken();
    }
    if (!owner) {
        return;
    }
    // Nothing of the service is touched after this: the owner may start, cancel or forget
    // reads from its handler.
    if (complete) {
        owner->AsyncReadComplete(property);
    } else {
        owner->AsyncReadProgress(property);
    }
}

} // namespace varnek::win32
