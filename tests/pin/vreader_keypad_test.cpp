// SPDX-License-Identifier: MIT
// vreader --keypad: a host program's PIN flow run against the virtual
// reader without hardware, what the holder types given on the command line.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

extern char **environ;

namespace {

std::string buildDir() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = '\0';
    std::string p(path);
    return p.substr(0, p.rfind('/'));
}

// Runs `vreader <options> -- verify_pin <build>/libkestrel.so`; returns the
// exit status and standard output.
std::pair<int, std::string> runVerifyPin(const std::vector<std::string> &options) {
    const std::string build = buildDir();
    std::vector<std::string> argv;
    if (const char *emulator = getenv("VREADER_EMULATOR")) argv.push_back(emulator);
    argv.push_back(build + "/vreader");
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"--", build + "/verify_pin", build + "/libkestrel.so"});
    std::vector<char *> cargv;
    for (auto &a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    // vreader makes a bus of its own, not this process's.
    std::vector<char *> cenv;
    for (char **e = environ; *e; ++e)
        if (strncmp(*e, "LD_PRELOAD=", 11) != 0 && strncmp(*e, "UMOCKDEV_DIR=", 13) != 0) cenv.push_back(*e);
    cenv.push_back(nullptr);

    int fds[2];
    if (pipe(fds) != 0) return {-1, ""};
    pid_t child = fork();
    if (child == 0) {
        dup2(fds[1], 1);
        int quiet = open("/dev/null", O_WRONLY);  // vreader's usage errors
        if (quiet >= 0) dup2(quiet, 2);
        close(fds[0]);
        close(fds[1]);
        execve(cargv[0], cargv.data(), cenv.data());
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[1024];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(VreaderKeypad, EntriesFromTheCommandLine) {
    // The demonstration card's PIN is 123456; entries are taken in turn
    // (none left: the keypad times out).
    EXPECT_EQ(runVerifyPin({"--keypad=123456"}), std::make_pair(0, std::string("iVerifyPIN: 0 PIN校验成功\n")));
    EXPECT_EQ(runVerifyPin({"-k", "654321"}),
              std::make_pair(1, std::string("iVerifyPIN: -51 PIN校验失败，剩余次数2次\n")));
    EXPECT_EQ(runVerifyPin({}), std::make_pair(1, std::string("iVerifyPIN: -32 密码输入操作超时\n")));
    EXPECT_EQ(runVerifyPin({"--keypad=status:1"}).first, 2);
}

}  // namespace
