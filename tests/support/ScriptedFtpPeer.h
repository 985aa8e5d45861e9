#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tevrak::test {

class ScriptedFtpSession;

// A misbehaving FTP server for protocol tests: listens on an ephemeral
// loopback port, accepts one control connection and plays a script of steps
// against it on its own thread. Steps can send any bytes, read and check the
// client's commands, connect (or never connect) to the address the client
// announced with PORT, connect from a foreign address, or close at any time.
class ScriptedFtpPeer {
public:
    using Step = std::function<void(ScriptedFtpSession&)>;

    explicit ScriptedFtpPeer(std::vector<Step> script);
    ~ScriptedFtpPeer();
    ScriptedFtpPeer(const ScriptedFtpPeer&) = delete;
    ScriptedFtpPeer& operator=(const ScriptedFtpPeer&) = delete;

    int port() const { return port_; }

    // Waits for the script to end (at most a few seconds after the client is done).
    void finish();

    // After finish(): the command lines the client sent, in order, also those
    // it sent after the script ended (which got no answer).
    std::vector<std::string> commands() const;
    // After finish(): the first thing that went against the script, or "".
    std::string failure() const;
    // After finish(): the bytes the client sent over data connections.
    std::string received() const;
    // After finish(): data connections the peer managed to open.
    int dataConnections() const { return dataConnections_; }

    // Steps for the usual greeting and login: 220, USER/331, PASS/230, TYPE I/200, SYST/215.
    static std::vector<Step> login();
    // Script = login() followed by the given steps.
    static std::vector<Step> afterLogin(std::vector<Step> steps);

private:
    friend class ScriptedFtpSession;
    void run(std::vector<Step> script);
    void fail(const std::string& what);

    int listenFd_ = -1;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex lock_;
    std::vector<std::string> commands_;
    std::string failure_;
    std::string received_;
    std::atomic<int> dataConnections_{0};
};

// What a script step can do. Every wait is bounded (a few seconds) so that a
// faulty client fails the test instead of hanging it.
class ScriptedFtpSession {
public:
    // Raw bytes on the control connection.
    void send(const std::string& bytes);
    // One reply line followed by CR LF.
    void reply(const std::string& line);
    // Reads one command line; records a failure when it does not start with prefix.
    std::string expect(const std::string& prefix);
    // expect(prefix), then reply(answer).
    void answer(const std::string& prefix, const std::string& reply);
    // Closes the control connection.
    void closeControl();
    // Waits until the client closes the control connection (or timeoutMs passes).
    bool waitForClientClose(int timeoutMs = 5000);
    // Keeps the control connection open without a word for ms milliseconds.
    void silence(int ms);

    // Passive mode: listens on a fresh loopback port and returns it; acceptData()
    // then takes the client's connection as the data connection.
    int listenForData();
    void acceptData();

    // Data connection to the address of the last PORT command, from 127.0.0.1.
    void openData();
    void sendData(const std::string& bytes);
    // Reads the data connection until the client closes it; the bytes are recorded.
    std::string receiveData();
    void closeData();
    // Breaks the data connection off (a reset instead of an orderly close).
    void resetData();
    // Connects to the PORT address from sourceAddress (e.g. 127.0.0.2) and
    // reports whether the client closed that connection within timeoutMs
    // without reading or sending anything.
    bool foreignConnectionRefused(const std::string& sourceAddress, int timeoutMs = 2000);

    // The address and port of the last PORT command ("" and 0 before one).
    const std::string& portAddress() const { return portAddress_; }
    int portNumber() const { return portNumber_; }

private:
    friend class ScriptedFtpPeer;
    explicit ScriptedFtpSession(ScriptedFtpPeer& peer, int control) : peer_(peer), control_(control) {}
    int connectToPort(const std::string& sourceAddress);

    ScriptedFtpPeer& peer_;
    int control_;
    int data_ = -1;
    int passive_ = -1;
    std::string input_;
    std::string portAddress_;
    int portNumber_ = 0;
};

// Raised inside the peer's thread to end a script that cannot go on.
struct ScriptAbort {
    std::string why;
};

} // namespace tevrak::test
