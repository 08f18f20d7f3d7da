// SPDX-License-Identifier: MIT
// kestreld: the local card service.  See kestreld(8).
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "config.h"
#include "server.h"
#include "service_log.h"

namespace {

const char kUsage[] =
    "Usage: kestreld [OPTIONS]\n"
    "The library's card operations as JSON over HTTP on 127.0.0.1 and ::1.\n"
    "\n"
    "  -c, --config=FILE        read FILE (default: ~/.config/kestreld/kestreld.conf,\n"
    "                           else /etc/kestreld.conf, when there)\n"
    "      --no-config          read no configuration file\n"
    "  -p, --port=PORT          port to listen on (default 7325; 0: any free port)\n"
    "      --allow-origin=LIST  web origins whose pages may call the service\n"
    "      --enable=LIST        operations that change the card: write, pin-change, debit\n"
    "      --log-file=FILE      log to FILE instead of standard error\n"
    "      --queue-wait=SECS    longest wait for the reader (default 10)\n"
    "      --queue-length=N     most requests waiting for the reader (default 8)\n"
    "      --demo=yes|no        serve the demonstration page at /demo (default yes)\n"
    "  -h, --help               this text\n"
    "      --version            the version\n"
    "Options on the command line replace the file's values.\n";

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string defaultConfigFile() {
    std::string user;
    if (const char *xdg = getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        user = std::string(xdg) + "/kestreld/kestreld.conf";
    else if (const char *home = getenv("HOME"); home && *home)
        user = std::string(home) + "/.config/kestreld/kestreld.conf";
    if (!user.empty() && exists(user)) return user;
    if (exists("/etc/kestreld.conf")) return "/etc/kestreld.conf";
    return "";
}

}  // namespace

int main(int argc, char **argv) {
    enum { kNoConfig = 256, kAllowOrigin, kEnable, kLogFile, kQueueWait, kQueueLength, kDemo, kVersion };
    static const option kOptions[] = {
        {"config", required_argument, nullptr, 'c'},
        {"no-config", no_argument, nullptr, kNoConfig},
        {"port", required_argument, nullptr, 'p'},
        {"allow-origin", required_argument, nullptr, kAllowOrigin},
        {"enable", required_argument, nullptr, kEnable},
        {"log-file", required_argument, nullptr, kLogFile},
        {"queue-wait", required_argument, nullptr, kQueueWait},
        {"queue-length", required_argument, nullptr, kQueueLength},
        {"demo", required_argument, nullptr, kDemo},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {nullptr, 0, nullptr, 0},
    };
    std::string configFile;
    bool readConfig = true;
    std::vector<std::pair<std::string, std::string>> given;
    for (int opt; (opt = getopt_long(argc, argv, "c:p:h", kOptions, nullptr)) != -1;) {
        switch (opt) {
        case 'c': configFile = optarg; break;
        case kNoConfig: readConfig = false; break;
        case 'p': given.emplace_back("port", optarg); break;
        case kAllowOrigin: given.emplace_back("allow-origin", optarg); break;
        case kEnable: given.emplace_back("enable", optarg); break;
        case kLogFile: given.emplace_back("log-file", optarg); break;
        case kQueueWait: given.emplace_back("queue-wait", optarg); break;
        case kQueueLength: given.emplace_back("queue-length", optarg); break;
        case kDemo: given.emplace_back("demo", optarg); break;
        case 'h': fputs(kUsage, stdout); return 0;
        case kVersion: puts("kestreld " KESTRELD_VERSION); return 0;
        default: fputs(kUsage, stderr); return 2;
        }
    }
    if (optind < argc) {
        fprintf(stderr, "kestreld: unexpected argument '%s'\n%s", argv[optind], kUsage);
        return 2;
    }

    kestreld::Config config;
    std::string error;
    if (readConfig && configFile.empty()) configFile = defaultConfigFile();
    if (readConfig && !configFile.empty() && !kestreld::loadConfigFile(config, configFile, error)) {
        fprintf(stderr, "kestreld: %s\n", error.c_str());
        return 2;
    }
    // Lists given on the command line replace the file's.
    for (const auto &kv : given) {
        if (kv.first == "allow-origin") config.allowedOrigins.clear();
        if (kv.first == "enable") config.enabled = 0;
    }
    for (const auto &kv : given) {
        if (!kestreld::setOption(config, kv.first, kv.second, error)) {
            fprintf(stderr, "kestreld: --%s: %s\n", kv.first.c_str(), error.c_str());
            return 2;
        }
    }

    kestreld::ServiceLog log;
    if (!log.open(config.logFile, error)) {
        fprintf(stderr, "kestreld: log file %s\n", error.c_str());
        return 1;
    }
    // SIGINT and SIGTERM are waited for below; every thread inherits the
    // mask, so none is interrupted.
    signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    kestreld::Server server(config, log);
    if (!server.start(error)) {
        fprintf(stderr, "kestreld: %s\n", error.c_str());
        return 1;
    }
    std::string origins;
    for (const std::string &o : config.allowedOrigins) origins += (origins.empty() ? "" : " ") + o;
    std::string enabled;
    for (unsigned cls : {kestreld::kWrite, kestreld::kPinChange, kestreld::kDebit})
        if (config.enabled & cls) enabled += std::string(enabled.empty() ? "" : " ") + kestreld::operationClassName(cls);
    log.line("started: port " + std::to_string(server.port()) + (server.ipv6() ? " (127.0.0.1 and ::1)" : " (127.0.0.1)") +
             "; allowed origins: " + (origins.empty() ? "none" : origins) +
             "; operations that change the card: " + (enabled.empty() ? "none" : enabled) +
             "; demonstration page: " + (config.demo ? "on" : "off") +
             (configFile.empty() || !readConfig ? "" : "; configuration " + configFile));
    printf("kestreld: listening on http://127.0.0.1:%d/%s\n", server.port(),
           server.ipv6() ? (" and http://[::1]:" + std::to_string(server.port()) + "/").c_str() : "");
    fflush(stdout);

    int sig = 0;
    sigwait(&stopSignals, &sig);
    log.line("stopping (signal " + std::to_string(sig) + "); requests in progress finish first");
    server.stop();
    log.line("stopped");
    return 0;
}
