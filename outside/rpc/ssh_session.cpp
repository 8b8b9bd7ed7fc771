// Making SSH sessions: the server name and the OpenSSH client configuration
// give the host, port, user, identities, known-hosts files and connect
// timeout, the way ssh itself resolves them; the server's host key must be
// known already; login is by public key only (the agent or the identity
// files), without ever asking for a passphrase. Nothing is logged.
#include "outside/rpc/ssh_session.h"

#include <libssh/callbacks.h>
#include <unistd.h>

#include <cstdlib>
#include <map>

namespace qvrpc {
namespace {

// Pending writes are gathered into requests of up to seven of the
// library's 31 744-byte pieces when the server announces its limits
// (OpenSSH 8.6 and later take 255 KB); otherwise a request carries at most
// 32 KB, which every SFTP server takes.
constexpr uint32_t kLargeWrite = 7 * 31744;
constexpr const char* kLimitsExtension = "limits@openssh.com";
// A connect that fails after this long has waited for its timeout.
constexpr std::chrono::seconds kSlowConnect{1};

// An encrypted identity is skipped: the library never asks for a secret.
int no_passphrase(const char*, char*, size_t, int, int, void*) { return -1; }

ssh_callbacks_struct* quiet_callbacks() {
    static ssh_callbacks_struct cb = [] {
        ssh_callbacks_struct c{};
        ssh_callbacks_init(&c);
        c.auth_function = no_passphrase;
        return c;
    }();
    return &cb;
}

void set_silent(ssh_session s) {
    int level = SSH_LOG_NOLOG;
    ssh_options_set(s, SSH_OPTIONS_LOG_VERBOSITY, &level);
}

// Host, user, port and the client configuration.
Outcome configure(ssh_session s, const SshTarget& t) {
    set_silent(s);
    bool no = false;
    int one = 1;
    long timeout = kDefaultConnectTimeout;
    if (ssh_options_set(s, SSH_OPTIONS_HOST, t.host.c_str()) != SSH_OK ||
        ssh_options_set(s, SSH_OPTIONS_PROCESS_CONFIG, &no) != SSH_OK ||
        ssh_options_set(s, SSH_OPTIONS_TIMEOUT, &timeout) != SSH_OK ||
        ssh_options_set(s, SSH_OPTIONS_NODELAY, &one) != SSH_OK)
        return Outcome::server(kRpcBadPath);
    const char* file = std::getenv(kSshConfigVariable);
    if (file && *file) {
        if (::access(file, R_OK) != 0 || ssh_options_parse_config(s, file) != SSH_OK)
            return Outcome::server(kRpcBadPath);
    } else if (ssh_options_parse_config(s, nullptr) != SSH_OK) {
        return Outcome::server(kRpcBadPath);
    }
    // What the server name says outweighs the configuration, as with ssh.
    if (!t.user.empty() && ssh_options_set(s, SSH_OPTIONS_USER, t.user.c_str()) != SSH_OK)
        return Outcome::server(kRpcBadPath);
    if (t.port != 0) {
        unsigned int port = unsigned(t.port);
        if (ssh_options_set(s, SSH_OPTIONS_PORT, &port) != SSH_OK) return Outcome::server(kRpcBadPath);
    }
    set_silent(s);  // a LogLevel of the configuration does not make the library log
    ssh_set_callbacks(s, quiet_callbacks());
    return {};
}

// Connects, checks the host key and logs in. Nothing is sent to a server
// whose key is not known.
Outcome login(ssh_session s) {
    if (ssh_connect(s) != SSH_OK) return Outcome::dropped();
    if (ssh_session_is_known_server(s) != SSH_KNOWN_HOSTS_OK) return Outcome::server(kRpcBadPath);
    int auth = ssh_userauth_publickey_auto(s, nullptr, nullptr);
    if (auth == SSH_AUTH_SUCCESS) return {};
    if (auth == SSH_AUTH_ERROR && !ssh_is_connected(s)) return Outcome::dropped();
    return Outcome::server(kRpcLoginRefused);
}

Outcome connect(const std::string& name, std::shared_ptr<SshSession>* out) {
    SshTarget target;
    if (!parse_server_name(name, &target)) return Outcome::server(kRpcBadPath);
    auto s = std::make_shared<SshSession>();
    s->owner = getpid();
    s->ssh = ssh_new();
    if (!s->ssh) return Outcome::server(kRpcIoError);
    if (Outcome o = configure(s->ssh, target); o.failed()) return o;
    if (Outcome o = login(s->ssh); o.failed()) return o;
    s->sftp = sftp_new(s->ssh);
    if (!s->sftp || sftp_init(s->sftp) != SSH_OK) return Outcome::dropped();
    if (sftp_extension_supported(s->sftp, kLimitsExtension, "1")) s->writeLimit = kLargeWrite;
    // Registered once the crypto library has registered its own clean-up,
    // so that this one runs first at exit.
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(close_everything); });
    *out = std::move(s);
    return {};
}

bool all_digits(const std::string& s) {
    return !s.empty() && s.size() <= 5 && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool parse_server_name(const std::string& name, SshTarget* out) {
    SshTarget t;
    std::string rest = name;
    size_t at = rest.rfind('@');
    if (at != std::string::npos) {
        t.user = rest.substr(0, at);
        rest = rest.substr(at + 1);
        if (t.user.empty()) return false;
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') {  // [address]:port
        size_t close = rest.find(']');
        if (close == std::string::npos) return false;
        std::string after = rest.substr(close + 1);
        t.host = rest.substr(1, close - 1);
        if (!after.empty()) {
            if (after[0] != ':') return false;
            port = after.substr(1);
            if (port.empty()) return false;
        }
    } else {
        size_t colon = rest.find(':');
        // A single colon separates the port; more are an IPv6 address.
        if (colon != std::string::npos && rest.find(':', colon + 1) == std::string::npos) {
            t.host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
            if (port.empty()) return false;
        } else {
            t.host = rest;
        }
    }
    if (t.host.empty() || t.host.find_first_of(" \t/\\") != std::string::npos) return false;
    if (!port.empty()) {
        if (!all_digits(port)) return false;
        t.port = std::atoi(port.c_str());
        if (t.port < 1 || t.port > 65535) return false;
    }
    *out = std::move(t);
    return true;
}

bool SshSession::inherited() const { return owner != getpid(); }

void SshSession::settle_others(const ReadAhead* self) {
    std::set<ReadAhead*> others = reading;
    for (ReadAhead* r : others) {
        if (r != self) r->settle();
    }
}

SshSession::~SshSession() {
    if (inherited()) return;  // closing would talk on the parent's connection
    if (sftp) sftp_free(sftp);
    if (ssh) {
        if (ssh_is_connected(ssh)) ssh_disconnect(ssh);
        ssh_free(ssh);
    }
}

Outcome SshConnection::session(std::shared_ptr<SshSession>* out) {
    if (current_ && (current_->broken || current_->inherited())) current_.reset();
    if (!current_) {
        auto start = std::chrono::steady_clock::now();
        if (start < quietUntil_) return lastFailure_;
        if (Outcome o = connect(name_, &current_); o.failed()) {
            current_.reset();
            auto now = std::chrono::steady_clock::now();
            if (o.transport && now - start >= kSlowConnect) {
                quietUntil_ = now + kSlowConnect;
                lastFailure_ = o;
            }
            return o;
        }
    }
    *out = current_;
    return {};
}

Outcome SshConnection::failure(SshSession& s, int32_t fallback) {
    int status = s.sftp ? sftp_get_error(s.sftp) : SSH_FX_NO_CONNECTION;
    // A server going down may close the SFTP channel before the connection.
    bool channelGone = !s.sftp || !s.sftp->channel || ssh_channel_is_closed(s.sftp->channel) ||
                       ssh_channel_is_eof(s.sftp->channel);
    if (!ssh_is_connected(s.ssh) || ssh_get_error_code(s.ssh) == SSH_FATAL || channelGone ||
        status == SSH_FX_NO_CONNECTION || status == SSH_FX_CONNECTION_LOST) {
        s.broken = true;
        return Outcome::dropped();
    }
    switch (status) {
    case SSH_FX_NO_SUCH_FILE:
    case SSH_FX_NO_SUCH_PATH: return Outcome::server(kRpcNotFound);
    case SSH_FX_PERMISSION_DENIED:
    case SSH_FX_WRITE_PROTECT: return Outcome::server(kRpcAccessDenied);
    case SSH_FX_FILE_ALREADY_EXISTS: return Outcome::server(kRpcExists);
    case SSH_FX_BAD_MESSAGE: return Outcome::server(kRpcBadPath);
    default: return Outcome::server(fallback);
    }
}

void SshConnection::drop() { current_.reset(); }

namespace {

std::mutex g_poolLock;

std::map<std::string, std::shared_ptr<SshConnection>>& pool() {
    // Never destroyed: ssh_close_all empties it at unload.
    static auto* p = new std::map<std::string, std::shared_ptr<SshConnection>>;
    return *p;
}

}  // namespace

std::shared_ptr<SshConnection> ssh_connection(const std::string& server, uint32_t number) {
    std::lock_guard<std::mutex> guard(g_poolLock);
    std::string key = std::to_string(number) + " " + server;
    auto& slot = pool()[key];
    if (!slot) slot = std::make_shared<SshConnection>(server);
    return slot;
}

void ssh_close_all() {
    std::lock_guard<std::mutex> guard(g_poolLock);
    for (auto& [key, conn] : pool()) {
        std::lock_guard<std::mutex> c(conn->lock);
        conn->drop();
    }
    pool().clear();
}

}  // namespace qvrpc
