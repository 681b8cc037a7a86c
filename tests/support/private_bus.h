// A private D-Bus daemon for one test, and helper processes on it (the fake udisksd): no system
// bus, no root and no real stick needed.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace quorlan::test {

// A child process whose standard output is read up to its first line; ended (SIGTERM) with the
// object.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {}) {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        std::vector<std::string> envText(extraEnv);
        for (char** e = environ; *e != nullptr; ++e) envText.emplace_back(*e);
        std::vector<char*> env;
        for (std::string& e : envText) env.push_back(e.data());
        env.push_back(nullptr);
        if (::posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), env.data()) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
        readFirstLine();
    }
    ~ChildProcess() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            int status = 0;
            ::waitpid(m_pid, &status, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first line the child printed (without its newline); empty when it printed none within
    // ten seconds.
    [[nodiscard]] const std::string& firstLine() const { return m_line; }

private:
    void readFirstLine() {
        while (m_out >= 0) {
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) return;
            char c = 0;
            if (::read(m_out, &c, 1) != 1 || c == '\n') return;
            m_line += c;
        }
    }

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_line;
};

// dbus-daemon on a socket of its own, where any user may connect and own any name (a test may
// run a client as another user than the services).
inline std::string privateBusConfig() {
    const std::string path = "/tmp/quorlan-test-bus-" + std::to_string(::getpid()) + ".conf";
    std::ofstream(path)
        << "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
           "<policy context=\"default\"><allow user=\"*\"/><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
           "<allow own=\"*\"/></policy></busconfig>\n";
    return path;
}

class PrivateBus {
public:
    PrivateBus()
        : m_config(privateBusConfig()),
          m_daemon({"dbus-daemon", "--config-file=" + m_config, "--nofork", "--nopidfile", "--print-address=1"}) {}
    ~PrivateBus() { ::unlink(m_config.c_str()); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    [[nodiscard]] const std::string& address() const { return m_daemon.firstLine(); }
    [[nodiscard]] bool up() const { return !address().empty(); }
    // The environment by which a child takes this bus for the system bus.
    [[nodiscard]] std::string systemBusEnv() const { return "DBUS_SYSTEM_BUS_ADDRESS=" + address(); }

private:
    std::string m_config;
    ChildProcess m_daemon;
};

}  // namespace quorlan::test
