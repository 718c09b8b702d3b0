// A small HTTP server on 127.0.0.1 for the Win32 tests, with the faults a support server can
// have: each path is answered as the test says, whole or cut, reset, stalled or paused.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

namespace varnek::testing {

// How the server answers a path.
struct Answer {
    enum Mode {
        Whole,        // `status` with the body and its Content-Length
        Reset,        // headers and `part` bytes, then a TCP reset
        Short,        // the full Content-Length, `part` bytes, then the connection closes
        Stall,        // headers and `part` bytes, silence for `pauseMs`, then close
        StallHeaders, // silence for `pauseMs` before anything, then close
        Pause,        // headers and `part` bytes, silence for `pauseMs`, then the rest
        Chunked,      // Transfer-Encoding: chunked, no Content-Length
        Counting,     // "answer N" for the Nth request, cacheable for an hour
    };
    Mode mode = Whole;
    std::string body;
    int status = 200;
    std::size_t part = 0;
    DWORD pauseMs = 0;
};

// An HTTP/1.1 server on 127.0.0.1 and a free port, one thread per connection, one answer per
// connection; a path it was not told about is a 404. Stops (ending stalls early) and joins its
// threads when destroyed.
class TestServer {
public:
    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const;
    std::string Url(const std::string& path) const;
    void Serve(const std::string& path, Answer answer);
    // Requests received for the path.
    int Requests(const std::string& path);
    // Connections of the path the server is done with, whatever became of them.
    int Finished(const std::string& path);
    std::string LastRequest(const std::string& path);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// A port on 127.0.0.1 with nothing listening.
int ClosedPort();

} // namespace varnek::testing
