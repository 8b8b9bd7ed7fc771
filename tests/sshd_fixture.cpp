#include "sshd_fixture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";
// sshd running as root wants its privilege separation directory.
constexpr const char* kPrivsepDir = "/run/sshd";

// A socket bound to a free port of 127.0.0.1 (listening when asked).
int bound_socket(int* port, bool listening) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 || (listening && listen(s, 16) != 0)) {
        close(s);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return s;
}

int free_port() {
    int port = 0;
    int s = bound_socket(&port, false);
    if (s < 0) return 0;
    close(s);
    return port;
}

bool accepts(int port) {
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(s);
    return ok;
}

std::string user_name() {
    struct passwd* pw = getpwuid(geteuid());
    return pw ? pw->pw_name : "root";
}

std::string first_line(const std::string& path) {
    std::ifstream f(path);
    std::string line;
    std::getline(f, line);
    return line;
}

// The processes whose parent is `parent`, read from /proc.
std::vector<pid_t> children_of(pid_t parent) {
    std::vector<pid_t> out;
    DIR* d = opendir("/proc");
    if (!d) return out;
    while (struct dirent* e = readdir(d)) {
        pid_t pid = pid_t(std::atoi(e->d_name));
        if (pid <= 0) continue;
        std::string stat = first_line("/proc/" + std::string(e->d_name) + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent) out.push_back(pid);
    }
    closedir(d);
    return out;
}

// Every process below `root`, deepest first.
void collect_descendants(pid_t root, std::vector<pid_t>* out) {
    for (pid_t child : children_of(root)) {
        collect_descendants(child, out);
        out->push_back(child);
    }
}

void stop_at_exit() { delete SshdServer::shared(); }

}  // namespace

SshdServer* SshdServer::shared() {
    static SshdServer* server = [] {
        if (access(kSshd, X_OK) != 0 || !have_program("ssh-keygen")) {
            oracle_missing("sshd");
            return static_cast<SshdServer*>(nullptr);
        }
        auto* s = new SshdServer;
        if (!s->prepare() || !s->start()) {
            ADD_FAILURE() << "sshd did not start; see " << s->dir() << "/sshd.log";
            return static_cast<SshdServer*>(nullptr);
        }
        setenv("QVRPC_SSH_CONFIG", s->config().c_str(), 1);
        // The agent's keys would be tried before the fixture's.
        unsetenv("SSH_AUTH_SOCK");
        std::atexit(stop_at_exit);
        return s;
    }();
    return server;
}

SshdServer::SshdServer() {
    char templ[] = "/tmp/qvtav-sshd-XXXXXX";
    if (mkdtemp(templ)) dir_ = templ;
}

SshdServer::~SshdServer() {
    stop();
    if (silentSocket_ >= 0) close(silentSocket_);
    if (closedSocket_ >= 0) close(closedSocket_);
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
}

bool SshdServer::prepare() {
    const std::string d = dir();
    if (d.empty()) return false;
    for (const char* key : {"host_key", "user_key", "other_key"}) {
        if (run_command("ssh-keygen -q -t ed25519 -N '' -C qvtav-test -f " + d + "/" + key) != 0)
            return false;
    }
    if (run_command("cp " + d + "/user_key.pub " + d + "/authorized_keys") != 0) return false;
    port_ = free_port();
    int silentPort = 0;
    silentSocket_ = bound_socket(&silentPort, true);
    if (port_ == 0 || silentSocket_ < 0) return false;
    std::ofstream known(d + "/known_hosts");
    known << "[127.0.0.1]:" << port_ << " " << first_line(d + "/host_key.pub") << "\n";
    std::ofstream(d + "/other_known_hosts") << "[127.0.0.1]:" << port_ << " "
                                            << first_line(d + "/other_key.pub") << "\n";
    std::ofstream sshd(d + "/sshd_config");
    sshd << "Port " << port_ << "\nListenAddress 127.0.0.1\n"
         << "HostKey " << d << "/host_key\nPidFile " << d << "/sshd.pid\n"
         << "AuthorizedKeysFile " << d << "/authorized_keys\n"
         << "PubkeyAuthentication yes\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
         // Without PAM an unprivileged sshd refuses a user whose password is
         // locked (as service accounts' are); as root, PAM's session modules
         // fail in containers (pam_loginuid), and root logs in without it.
         << "UsePAM " << (geteuid() == 0 ? "no" : "yes") << "\n"
         << "StrictModes no\nPermitRootLogin prohibit-password\n"
         << "MaxStartups 100\nMaxSessions 100\nLogLevel ERROR\n"
         << "Subsystem sftp internal-sftp\n";
    // The closed port stays bound without listening for the fixture's life:
    // connections to it are refused, and no sshd (this one included, whose
    // port was free a moment ago) can take it.
    int closedPort = 0;
    closedSocket_ = bound_socket(&closedPort, false);
    if (closedSocket_ < 0) return false;
    write_client_config(silentPort, closedPort);
    return true;
}

void SshdServer::write_client_config(int silentPort, int closedPort) {
    const std::string d = dir();
    config_ = d + "/ssh_config";
    std::ofstream c(config_);
    auto host = [&](const char* alias, int port, const char* key, const char* known) {
        c << "Host " << alias << "\n  HostName 127.0.0.1\n  Port " << port << "\n  User " << user_name()
          << "\n  IdentityFile " << d << "/" << key << "\n  UserKnownHostsFile " << d << "/" << known
          << "\n  GlobalKnownHostsFile /dev/null\n  ConnectTimeout " << kConnectTimeout << "\n";
    };
    // Names given as an address and a port find the key this way. (First:
    // libssh matches later Host lines against an alias's HostName too.)
    c << "Host 127.0.0.1\n  IdentityFile " << d << "/user_key\n  UserKnownHostsFile " << d
      << "/known_hosts\n  GlobalKnownHostsFile /dev/null\n  ConnectTimeout " << kConnectTimeout << "\n";
    host(kAlias, port_, "user_key", "known_hosts");
    host(kUnknownKeyAlias, port_, "user_key", "other_known_hosts");
    host(kWrongKeyAlias, port_, "other_key", "known_hosts");
    host(kSilentAlias, silentPort, "user_key", "known_hosts");
    host(kClosedAlias, closedPort, "user_key", "known_hosts");
}

bool SshdServer::launch() {
    if (geteuid() == 0) mkdir(kPrivsepDir, 0755);
    std::string log = dir() + "/sshd.log";
    std::string conf = dir() + "/sshd_config";
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
        // A test process that is killed (a timeout) takes its server along.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (fd >= 0) {
            dup2(fd, 2);
            dup2(fd, 1);
        }
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        execl(kSshd, kSshd, "-D", "-e", "-f", conf.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100; ++i) {
        if (accepts(port_)) return true;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool SshdServer::start() {
    if (pid_ > 0) return true;
    return launch();
}

void SshdServer::stop() {
    if (pid_ <= 0) return;
    std::vector<pid_t> sessions;
    collect_descendants(pid_, &sessions);
    kill(pid_, SIGKILL);
    for (pid_t p : sessions) kill(p, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}
