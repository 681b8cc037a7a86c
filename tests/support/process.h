// Runs a shell command for a test and captures its exit code, standard output and error.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace quorlan::test {

struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Quotes a word for /bin/sh.
inline std::string shellQuote(const std::string& word) {
    std::string q = "'";
    for (char c : word) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

inline CommandResult runCommand(const std::string& command) {
    CommandResult result;
    char errPath[] = "/tmp/quorlan-stderr-XXXXXX";
    const int errFd = ::mkstemp(errPath);
    if (errFd >= 0) ::close(errFd);
    const std::string full = "(" + command + ") 2>" + shellQuote(errPath) + " </dev/null";
    FILE* pipe = ::popen(full.c_str(), "r");
    if (pipe == nullptr) return result;
    std::array<char, 4096> chunk{};
    std::size_t n = 0;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) result.out.append(chunk.data(), n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream err(errPath);
    std::stringstream ss;
    ss << err.rdbuf();
    result.err = ss.str();
    std::filesystem::remove(errPath);
    return result;
}

inline bool haveTool(const std::string& name) {
    return runCommand("command -v " + name + " || test -x /usr/sbin/" + name + " || test -x /sbin/" + name).exitCode == 0;
}

// Debian keeps sfdisk and mkfs.* in /usr/sbin, which a non-root PATH may lack.
inline std::string sbinPath() { return "PATH=\"$PATH:/usr/sbin:/sbin\" "; }

// The SHA-256 of a file in hexadecimal, through sha256sum.
inline std::string sha256(const std::string& path) {
    return runCommand("sha256sum < " + shellQuote(path)).out.substr(0, 64);
}

}  // namespace quorlan::test
