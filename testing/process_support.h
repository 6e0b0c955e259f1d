// Test support without Qt: the program run as a child process with its output in files, waited
// for with a bound, killed when the test lets go of it; and a fresh directory per machine.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace hopshot::proc {

inline std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

struct Child {
    pid_t pid = -1;
    std::string outPath, errPath;
    int status = -1;
    bool reaped = false;   // its end was taken: the pid is no longer its own

    std::string out() const { return slurp(outPath); }
    std::string err() const { return slurp(errPath); }
    // Whether it has ended, without waiting; once it has, it stays so.
    bool ended() {
        if (!reaped && pid > 0 && waitpid(pid, &status, WNOHANG) == pid) reaped = true;
        return reaped;
    }
    bool waitEnd(int timeoutMs) {
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            if (ended()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
    void killNow() {
        if (pid > 0 && !ended()) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            reaped = true;
        }
    }
    ~Child() { killNow(); }
};

// Starts `program` with args; `env` entries ("NAME=value") are added to this process's own.
inline std::unique_ptr<Child> start(const std::string& program, const std::vector<std::string>& args,
                                    const std::string& outStem,
                                    const std::vector<std::string>& env = {}) {
    auto child = std::make_unique<Child>();
    child->outPath = outStem + ".out";
    child->errPath = outStem + ".err";
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore(env);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) envp.push_back(*e);
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, child->outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, child->errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&child->pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
        child->pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return child;
}

// Polls `done` every 10 ms for up to timeoutMs.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

}  // namespace hopshot::proc
