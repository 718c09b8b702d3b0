// The Win32 tests' HTTP server: a listener thread, and a thread for each connection that reads
// one request and sends the answer its path was given, faults included.
#include <winsock2.h>

#include "TestServer.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace varnek::testing {

namespace {

std::string Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool SendAll(SOCKET socket, const char* data, std::size_t size) {
    while (size > 0) {
        const int sent =
            send(socket, data, static_cast<int>(std::min<std::size_t>(size, 65536)), 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}
bool SendAll(SOCKET socket, const std::string& text) {
    return SendAll(socket, text.data(), text.size());
}

} // namespace

struct TestServer::State {
    State() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 16);
        int length = sizeof address;
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        acceptor = std::thread([this] { AcceptLoop(); });
    }
    ~State() {
        SetEvent(stop);
        closesocket(listener);
        acceptor.join();
        std::vector<std::thread> ended;
        {
            std::lock_guard lock(mutex);
            ended.swap(handlers);
        }
        for (auto& handler : ended) {
            handler.join();
        }
        CloseHandle(stop);
        WSACleanup();
    }

    void AcceptLoop() {
        for (;;) {
            const SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) {
                return; // the listener was closed
            }
            std::lock_guard lock(mutex);
            handlers.emplace_back([this, client] { Handle(client); });
        }
    }

    void Handle(SOCKET client) {
        const DWORD receiveMs = 10000;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receiveMs),
                   sizeof receiveMs);
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
            const int got = recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) {
                closesocket(client);
                return;
            }
            request.append(buffer, static_cast<std::size_t>(got));
            if (request.size() >= 4 && request.rfind("GET ", 0) != 0) {
                break; // not HTTP (a TLS handshake, say): answered below with a 404
            }
        }
        std::string path;
        if (request.rfind("GET ", 0) == 0) {
            path = request.substr(4, request.find(' ', 4) - 4);
        }
        Answer answer;
        int count = 0;
        {
            std::lock_guard lock(mutex);
            count = ++requests[path];
            lastRequest[path] = request;
            const auto found = answers.find(path);
            if (found != answers.end()) {
                answer = found->second;
            } else {
                answer.status = 404;
                answer.body = "no such page";
            }
        }
        Send(client, answer, count);
        closesocket(client);
        std::lock_guard lock(mutex);
        ++finished[path];
    }

    // Says nothing for `ms`, or until the test ends or the client closes the connection.
    void Silence(SOCKET client, DWORD ms) {
        const ULONGLONG end = GetTickCount64() + ms;
        while (GetTickCount64() < end && WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(client, &readable);
            timeval step{0, 50000};
            char byte = 0;
            if (select(0, &readable, nullptr, nullptr, &step) > 0 &&
                recv(client, &byte, 1, MSG_PEEK) <= 0) {
                return;
            }
        }
    }

    // False when the answer was cut short, by its fault or by the client.
    bool Send(SOCKET client, const Answer& answer, int count) {
        std::string head = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                           Reason(answer.status) + "\r\nConnection: close\r\n";
        const std::string& body = answer.body;
        switch (answer.mode) {
        case Answer::Whole:
            return SendAll(client, head + "Content-Length: " + std::to_string(body.size()) +
                                       "\r\n\r\n" + body);
        case Answer::Counting: {
            const std::string text = "answer " + std::to_string(count);
            return SendAll(client, head +
                                       "Cache-Control: public, max-age=3600\r\n"
                                       "Last-Modified: Mon, 01 Jan 2024 00:00:00 GMT\r\n"
                                       "ETag: \"same\"\r\nContent-Length: " +
                                       std::to_string(text.size()) + "\r\n\r\n" + text);
        }
        case Answer::Chunked: {
            std::string text = head + "Transfer-Encoding: chunked\r\n\r\n";
            for (std::size_t at = 0; at < body.size(); at += 1000) {
                const std::string chunk = body.substr(at, 1000);
                char size[16];
                wsprintfA(size, "%x\r\n", static_cast<unsigned>(chunk.size()));
                text += size + chunk + "\r\n";
            }
            return SendAll(client, text + "0\r\n\r\n");
        }
        case Answer::StallHeaders:
            Silence(client, answer.pauseMs);
            return false;
        default:
            break;
        }
        // The modes that send part of the body and then misbehave.
        if (!SendAll(client,
                     head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n") ||
            !SendAll(client, body.data(), answer.part)) {
            return false;
        }
        if (answer.mode == Answer::Reset) {
            const linger abort{1, 0};
            setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                       sizeof abort);
            return false;
        }
        if (answer.mode == Answer::Short) {
            shutdown(client, SD_SEND);
            return false;
        }
        if (answer.mode == Answer::Stall) {
            Silence(client, answer.pauseMs);
            return false;
        }
        if (WaitForSingleObject(stop, answer.pauseMs) == WAIT_OBJECT_0) {
            return false;
        }
        return SendAll(client, body.data() + answer.part, body.size() - answer.part);
    }

    SOCKET listener = INVALID_SOCKET;
    HANDLE stop = nullptr;
    int port = 0;
    std::thread acceptor;
    std::mutex mutex;
    std::vector<std::thread> handlers;
    std::map<std::string, Answer> answers;
    std::map<std::string, int> requests;
    std::map<std::string, int> finished;
    std::map<std::string, std::string> lastRequest;
};

TestServer::TestServer() : state_(std::make_unique<State>()) {}
TestServer::~TestServer() = default;

int TestServer::port() const {
    return state_->port;
}
std::string TestServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(state_->port) + path;
}
void TestServer::Serve(const std::string& path, Answer answer) {
    std::lock_guard lock(state_->mutex);
    state_->answers[path] = std::move(answer);
}
int TestServer::Requests(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    return state_->requests[path];
}
int TestServer::Finished(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    return state_->finished[path];
}
std::string TestServer::LastRequest(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    return state_->lastRequest[path];
}

int ClosedPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(probe);
    WSACleanup();
    return ntohs(address.sin_port);
}

} // namespace varnek::testing
